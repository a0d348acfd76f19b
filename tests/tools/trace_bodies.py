#!/usr/bin/env python3
"""Runs programs under the tracers twice, with the tracer's native bodies
and with its Mox bodies (mox-run --mox-bodies), and checks that the two
printed the same text and ended the same way.

Usage: trace_bodies.py MOX-RUN SOURCE-ROOT [EMULATOR...]
"""
import os
import subprocess
import sys

PROGRAMS = ["tests/mox-run/trace-programs.mox", "bench/tools/trace.mox"]


def run(cmd):
    p = subprocess.run(cmd, capture_output=True, timeout=600)
    return p.returncode, p.stdout.decode("utf-8", "replace").replace("\r\n", "\n")


def main():
    mox_run, root, emulator = sys.argv[1], sys.argv[2], sys.argv[3:]
    failures = 0
    for program in PROGRAMS:
        path = os.path.join(root, program)
        if emulator:
            path = "Z:" + os.path.abspath(path).replace("/", "\\")
        native = run(emulator + [mox_run, path])
        mox = run(emulator + [mox_run, "--mox-bodies", path])
        lines = native[1].count("\n")
        if native != mox or native[0] != 0 or lines < 50:
            failures += 1
            print(f"FAIL {program}: status {native[0]} and {mox[0]}, {lines} lines")
            a, b = native[1].splitlines(), mox[1].splitlines()
            for i, (x, y) in enumerate(zip(a, b)):
                if x != y:
                    print(f"line {i + 1}\n  native: {x!r}\n  mox:    {y!r}")
                    break
            else:
                print(f"  lengths {len(a)} and {len(b)}")
    print(f"trace_bodies: {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
