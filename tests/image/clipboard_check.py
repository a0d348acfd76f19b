#!/usr/bin/env python3
"""Checks images on the clipboard against the X clipboard through xclip.

Usage: clipboard_check.py MOX-RUN [EMULATOR]

Under Wine (on the X display of DISPLAY): an image written by
write-clipboard comes out of `xclip -t image/png` as a PNG of that size and
those pixels (read by fixtures.py); a PNG put by xclip reads back as the
same image (Wine offers it only as "PNG"); inside Windows an image makes the
round trip, and an image of no pixels empties the clipboard. The native
build has no clipboard: both routines report failure.
"""
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fixtures as fx  # noqa: E402

failures = []


def check(what, got, expected):
    if got != expected:
        failures.append(f"{what}: expected {expected!r}, got {got!r}")


def script_file(folder, code):
    path = os.path.join(folder, "c.mox")
    with open(path, "w", encoding="utf-8") as f:
        f.write(code)
    return path


def run(mox_run, emulator, folder, code):
    path = script_file(folder, code)
    arg = ("Z:" + path.replace("/", "\\")) if emulator else path
    out = subprocess.run(emulator + [mox_run, arg], capture_output=True, timeout=120)
    return [l for l in out.stdout.decode("utf-8", "replace").replace("\r", "").split("\n") if l]


def release(fifo, process):
    """Opens the FIFO for writing once its reader is there (or gone)."""
    while process.poll() is None:
        try:
            fd = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
        except OSError:
            time.sleep(0.1)
            continue
        os.write(fd, b"x")
        os.close(fd)
        return


def image_literal(pixels, w, h):
    rgb = bytes(v for p in pixels for v in p[:3]).hex().upper()
    transparency = bytes(255 - p[3] for p in pixels).hex().upper()
    return f"make image! [{w}x{h} #{{{rgb}}} #{{{transparency}}}]"


def main():
    mox_run = sys.argv[1]
    emulator = sys.argv[2:] if len(sys.argv) > 2 and sys.argv[2] else []
    folder = tempfile.mkdtemp()
    src = fx.source()
    w, h = fx.W, fx.H
    literal = image_literal(src, w, h)
    try:
        if not emulator:
            check("native", run(mox_run, [], folder, f"print mold reduce [write-clipboard {literal} read-clipboard]"),
                  ["[false false]"])
        elif not os.environ.get("DISPLAY"):
            failures.append("no X display for the clipboard")
        else:
            to_x(mox_run, emulator, folder, literal, src, w, h)
            from_x(mox_run, emulator, folder, src, w, h)
            lines = run(mox_run, emulator, folder, f"""
img: {literal}
print mold write-clipboard img
got: read-clipboard
print mold reduce [type? got got/size got = img]
print mold write-clipboard make image! 0x0
print mold read-clipboard
""")
            check("inside Windows", lines, ["true", f"[image! {w}x{h} true]", "true", "none"])
    finally:
        for name in os.listdir(folder):
            os.unlink(os.path.join(folder, name))
        os.rmdir(folder)
    for f in failures:
        print("FAIL:", f)
    print(f"{'ok' if not failures else 'FAILED'}: image clipboard")
    return 1 if failures else 0


def to_x(mox_run, emulator, folder, literal, src, w, h):
    # Wine's clipboard leaves X with the last Wine process: the script
    # writes, then waits on a FIFO until X has read the image.
    fifo = os.path.join(folder, "go")
    os.mkfifo(fifo)
    path = script_file(folder, f'print write-clipboard {literal} read %/Z{fifo} print "done"')
    writer = subprocess.Popen(emulator + [mox_run, "Z:" + path.replace("/", "\\")],
                              stdout=subprocess.PIPE)
    try:
        got = b""
        for _ in range(150):
            got = subprocess.run(["xclip", "-selection", "clipboard", "-t", "image/png", "-o"],
                                 capture_output=True, timeout=10).stdout
            if got.startswith(b"\x89PNG") or writer.poll() is not None:
                break
            time.sleep(0.1)
        try:
            gw, gh, pixels = fx.read_png(got)
            check("to X: size", (gw, gh), (w, h))
            check("to X: pixels", pixels == src, True)
        except (AssertionError, ValueError, KeyError, UnboundLocalError) as e:
            failures.append(f"to X: not a PNG ({e!r}, {len(got)} bytes)")
    finally:
        release(fifo, writer)
        out = writer.communicate(timeout=60)[0].decode().split()
        check("to X: write", out, ["true", "done"])


def from_x(mox_run, emulator, folder, src, w, h):
    png = os.path.join(folder, "x.png")
    with open(png, "wb") as f:
        f.write(fx.png(src, w, h))
    server = subprocess.Popen(["xclip", "-selection", "clipboard", "-t", "image/png", "-i", png],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(0.5)
        lines = run(mox_run, emulator, folder,
                    "img: read-clipboard print [type? img img/size enbase/base img/argb 16]")
    finally:
        server.kill()
        server.wait(timeout=10)
    want = bytes(v for r, g, b, a in src for v in (b, g, r, a)).hex().upper()
    check("from X", lines, [f"image {w}x{h} {want}"])


if __name__ == "__main__":
    sys.exit(main())
