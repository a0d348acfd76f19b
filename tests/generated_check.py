#!/usr/bin/env python3
"""Runs a generator from tools/ into a temporary file and compares the result
with the checked-in file it writes, so that neither the generated file nor
its generator is changed without the other.

Usage: generated_check.py GENERATOR FILE
"""
import difflib
import subprocess
import sys
import tempfile


def main():
    generator, checked_in = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryFile() as out:
        status = subprocess.run([sys.executable, generator], stdout=out).returncode
        if status != 0:
            sys.exit("%s failed with status %d" % (generator, status))
        out.seek(0)
        fresh = out.read()
    with open(checked_in, "rb") as f:
        kept = f.read()
    if fresh == kept:
        return
    diff = difflib.unified_diff(kept.decode("utf-8", "replace").splitlines(),
                                fresh.decode("utf-8", "replace").splitlines(),
                                checked_in, "regenerated", lineterm="")
    for i, line in enumerate(diff):
        if i == 40:
            print("...")
            break
        print(line)
    sys.exit("%s differs from what %s writes: run it again and commit the result"
             % (checked_in, generator))


if __name__ == "__main__":
    main()
