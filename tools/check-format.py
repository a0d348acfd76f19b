#!/usr/bin/env python3
"""Checks that every C++ file is as clang-format (with .clang-format) would
write it; lists the files that are not. Reformat one with
`clang-format -i FILE`.

usage: tools/check-format.py [source-root]
"""
import os
import subprocess
import sys

FOLDERS = ["platform", "core", "datatypes", "evaluator", "io", "library", "view", "console",
           "program", "tools", "tests", "bench"]


def sources(root):
    for top in FOLDERS:
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in sorted(names):
                if name.endswith((".cpp", ".h")):
                    yield os.path.join(folder, name)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    files = [os.path.relpath(path, root) for path in sources(root)]
    # One clang-format for all the files: it names each file that it would
    # change in a warning of its dry run.
    run = subprocess.run(["clang-format", "--style=file", "--dry-run"] + files,
                         capture_output=True, text=True, cwd=root)
    if run.returncode:
        print(run.stderr)
        return 1
    bad = sorted({line.split(":")[0] for line in run.stderr.splitlines() if ": warning:" in line})
    for rel in bad:
        print("FAIL: %s is not as clang-format writes it" % rel)
    print("%d files checked, %d not formatted" % (len(files), len(bad)))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
