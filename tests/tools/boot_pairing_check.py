#!/usr/bin/env python3
"""The image tool refuses a library whose native! and action! definitions
do not pair with the natives table: each case edits a copy of the library
and expects a failure status with the lines naming the word, the ids and
the file. The untouched copy must still give an image.

Usage: boot_pairing_check.py TOOL ROOT
"""
import os
import shutil
import subprocess
import sys
import tempfile

TABLE = "core/natives-table.h"

# (title, file, text, replacement, lines the tool must print)
CASES = [
    ("a native with another native's id", "library/boot/more-natives.mox", "] 49]", "] 50]",
     ["library/boot/more-natives.mox: native! negative? has id 50, but %s gives it 49" % TABLE]),
    ("an action with another action's id", "library/boot/actions.mox", "] 11]", "] 12]",
     ["library/boot/actions.mox: action! add has id 12, but %s gives it 11" % TABLE]),
    ("a native inside an object", "library/boot/image.mox", "\t] 118]", "\t] 117]",
     ["library/boot/image.mox: native! decode has id 117, but %s gives it 118" % TABLE]),
    ("a renamed native: unknown, and the table's one undefined", "library/boot/more-natives.mox",
     "\nrecycle: make native!", "\nrecycle-x: make native!",
     ["library/boot/more-natives.mox: native! recycle-x (id 105) is not in %s" % TABLE,
      "native! recycle (id 105 in %s) is defined in no file" % TABLE]),
    ("a body the routines run, named by a native!", "library/boot/system-natives.mox",
     "] 104]\n", "] 104]\n\ncreate-dir: make native! [[path [file!]] 108]\n",
     ["library/boot/system-natives.mox: native! create-dir (id 108) is run by routines only"]),
    ("a native defined twice", "library/boot/system-natives.mox",
     "] 104]\n", "] 104]\n\nif: make native! [[cond [any-type!] then-blk [block!]] 1]\n",
     ["library/boot/system-natives.mox: native! if is defined again "
      "(first in library/boot/natives.mox)"]),
    ("an id that is not an integer", "library/boot/more-natives.mox", "] 49]", '] "49"]',
     ["library/boot/more-natives.mox: native! negative? is not made from [spec id]"]),
]


def copy_tree(root, tree):
    for folder in ("library", "view", "console"):
        if os.path.isdir(os.path.join(root, folder)):
            shutil.copytree(os.path.join(root, folder), os.path.join(tree, folder))


def run_tool(tool, tree, work):
    return subprocess.run([tool, tree, os.path.join(tree, "library", "order.txt"),
                           os.path.join(work, "image.moxbin"), os.path.join(work, "image.cpp")],
                          capture_output=True, text=True,
                          env=dict(os.environ, ASAN_OPTIONS="detect_leaks=0"))


def main():
    tool, root = sys.argv[1:3]
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        tree = os.path.join(work, "tree")
        copy_tree(root, tree)
        p = run_tool(tool, tree, work)
        ok = p.returncode == 0 and "make-boot-image:" not in p.stderr
        print(("ok: " if ok else "FAIL: ") + "the library as it is")
        if not ok:
            failures += 1
            print("  status %d, output %r" % (p.returncode, p.stderr[-600:]))
        for title, name, text, replacement, lines in CASES:
            path = os.path.join(tree, name)
            with open(path, encoding="utf-8") as f:
                original = f.read()
            assert original.count(text) == 1, (name, text)
            with open(path, "w", encoding="utf-8") as f:
                f.write(original.replace(text, replacement))
            p = run_tool(tool, tree, work)
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
            printed = p.stderr.splitlines()
            missing = [l for l in lines if "make-boot-image: " + l not in printed]
            ok = p.returncode != 0 and not missing
            print(("ok: " if ok else "FAIL: ") + title)
            if not ok:
                failures += 1
                print("  status %d, missing %r, output %r" % (p.returncode, missing,
                                                               p.stderr[-600:]))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
