"""Start-up from a boot image file: the good image boots, and damaged ones
print "Error: Not a Moxbin file!" (or, for a corrupt compressed body, "Error:
Moxbin compressed data corrupted!") and end with a non-zero status. An
image made by the image tool with one more file, whose code fails, names
that file.

Usage: boot_image_check.py MOX-RUN IMAGE TOOL ROOT [EMULATOR]

The records area is found by reading the compact header (varint value
count, varint records length, then the symbol table) independently of the
decoder.
"""
import os
import shutil
import subprocess
import sys
import tempfile

MESSAGE = "Error: Not a Moxbin file!"
CORRUPTED = "Error: Moxbin compressed data corrupted!"


def varint(data, i):
    value = shift = 0
    while True:
        b = data[i]
        i += 1
        value |= (b & 0x7F) << shift
        shift += 7
        if not b & 0x80:
            return value, i


def records_start(data):
    assert data[:6] == b"MOXBIN" and data[7] & 1 and not data[7] & 2
    _, i = varint(data, 8)
    _, i = varint(data, i)
    if data[7] & 4:
        count, i = varint(data, i)
        size, i = varint(data, i)
        i += 4 * count + size
    return i


def main():
    mox_run, image, tool, root = sys.argv[1:5]
    emulator = sys.argv[5:] if len(sys.argv) > 5 and sys.argv[5] else []
    with open(image, "rb") as f:
        good = f.read()
    start = records_start(good)
    cases = [
        ("the good image boots", good, None),
        ("a wrong magic", b"NOTMOX" + good[6:], MESSAGE),
        ("an empty file", b"", MESSAGE),
        ("the header alone", good[:8], MESSAGE),
        ("cut in the middle of the records", good[: (start + len(good)) // 2], MESSAGE),
        ("an invalid lead byte as the first record", good[:start] + b"\xc5" + good[start + 1:], MESSAGE),
        ("a records length past the end", good[:8] + b"\x01\xff\xff\xff\xff\x07" + good[10:], MESSAGE),
        ("a compressed body that is not LZ data", good[:7] + bytes([good[7] | 2]) + good[8:], CORRUPTED),
    ]
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        script = os.path.join(work, "hello.mox")
        with open(script, "w") as f:
            f.write("print 6 * 7\n")
        # The library with one more file at the end, which fails.
        tree = os.path.join(work, "tree")
        for folder in ("library", "view", "console"):
            if os.path.isdir(os.path.join(root, folder)):
                shutil.copytree(os.path.join(root, folder), os.path.join(tree, folder))
        with open(os.path.join(root, "library", "order.txt")) as f:
            order = f.read()
        with open(os.path.join(tree, "library", "order.txt"), "w") as f:
            f.write(order.rstrip("\n") + "\nlibrary/zz-fails.mox\n")
        with open(os.path.join(tree, "library", "zz-fails.mox"), "w") as f:
            f.write("x: 1 / 0\n")
        failing = os.path.join(work, "failing.moxbin")
        subprocess.run([tool, tree, os.path.join(tree, "library", "order.txt"), failing,
                        os.path.join(work, "failing.cpp")], check=True,
                       env=dict(os.environ, ASAN_OPTIONS="detect_leaks=0"))
        with open(failing, "rb") as f:
            cases.append(("a failing file is named", f.read(),
                          "*** boot file library/zz-fails.mox failed"))
        for title, data, message in cases:
            path = os.path.join(work, "image.moxbin")
            with open(path, "wb") as f:
                f.write(data)
            arg = ("Z:" + path) if emulator else path
            run_script = ("Z:" + script) if emulator else script
            p = subprocess.run(emulator + [mox_run, "--boot-image", arg, run_script],
                               capture_output=True, timeout=120)
            out = p.stdout.decode("utf-8", "replace").replace("\r", "")
            if message is None:
                ok = p.returncode == 0 and out.strip() == "42"
            else:
                ok = p.returncode != 0 and message in out and "42" not in out
            print(("ok: " if ok else "FAIL: ") + title)
            if not ok:
                failures += 1
                print("  status %d, output %r" % (p.returncode, out[-300:]))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
