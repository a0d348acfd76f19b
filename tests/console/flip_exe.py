#!/usr/bin/env python3
"""Holds flip-exe-flag against Python's struct reading of the PE header.

The executable under test is copied when it is a PE file (the Windows
build); a synthetic PE image is used as well, and files that are not PE
images (no MZ, an offset past the end, no "PE\\0\\0", a subsystem other than
GUI or console) must be refused with nothing written.

usage: flip_exe.py MOX-RUN [EMULATOR...]
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile


def subsystem(path):
    with open(path, "rb") as f:
        data = f.read()
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    assert data[pe:pe + 4] == b"PE\0\0"
    (value,) = struct.unpack_from("<H", data, pe + 4 + 20 + 68)
    return value


def synthetic(subsys, pe_offset=0x80, signature=b"PE\0\0"):
    data = bytearray(pe_offset + 4 + 20 + 240)
    data[0:2] = b"MZ"
    struct.pack_into("<I", data, 0x3C, pe_offset)
    data[pe_offset:pe_offset + 4] = signature
    struct.pack_into("<H", data, pe_offset + 4 + 20 + 68, subsys)
    return bytes(data)


def flip(command, work, name):
    script = os.path.join(work, "flip.mox")
    with open(script, "w") as f:
        f.write('print either error? try [flip-exe-flag %%%s none]["refused"]["flipped"]\n' % name)
    run = subprocess.run(command[1:] + [command[0], "flip.mox"], capture_output=True,
                         cwd=work, timeout=120)
    return run.stdout.decode().strip()


def main():
    command = sys.argv[1:]
    failed = 0
    checks = 0
    with tempfile.TemporaryDirectory() as work:
        files = {
            "gui.exe": (synthetic(2), "flipped", 3),
            "cui.exe": (synthetic(3), "flipped", 2),
            "native.exe": (synthetic(1), "refused", None),
            "nope.exe": (synthetic(2, signature=b"PX\0\0"), "refused", None),
            "far.exe": (synthetic(2)[:0x3C] + struct.pack("<I", 0x7FFFFFF0) + synthetic(2)[0x40:],
                        "refused", None),
            "tiny.exe": (b"MZ", "refused", None),
        }
        with open(command[0], "rb") as f:
            if f.read(2) == b"MZ":
                shutil.copy(command[0], os.path.join(work, "ours.exe"))
                before = subsystem(os.path.join(work, "ours.exe"))
                files["ours.exe"] = (None, "flipped", 2 if before == 3 else 3)
        for name, (data, want, after) in files.items():
            path = os.path.join(work, name)
            if data is not None:
                with open(path, "wb") as f:
                    f.write(data)
            with open(path, "rb") as f:
                original = f.read()
            got = flip(command, work, name)
            checks += 1
            ok = got == want
            with open(path, "rb") as f:
                now = f.read()
            if want == "refused":
                ok = ok and now == original
            else:
                ok = ok and subsystem(path) == after and len(now) == len(original)
                ok = ok and sum(a != b for a, b in zip(now, original)) == 1
            if not ok:
                failed += 1
                print("FAIL %s: %s" % (name, got))
    print("%d passed, %d failed" % (checks - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
