#!/usr/bin/env python3
"""Checks that the runtime's includes only look down its layers.

The top folders are layers, lowest first; a file may include headers of its
own layer and of the layers below it, never above. tools/, tests/ and bench/
stand outside the order and may include anything.

KNOWN lists the upward includes that are still to be taken apart, each as
"file -> header". The check fails on an upward include that is not listed,
and on a listed one that no longer exists, so that the list only shrinks.

usage: tools/check-layers.py [source-root]
"""
import os
import re
import sys

LAYERS = ["platform", "core", "datatypes", "evaluator", "io", "library", "view", "console", "program"]

# Raising an error still calls up from core: it makes an error! value, names
# the argument of a failed type check from the function's spec, and the
# evaluation stack fills the error's fields and forms the calls it names.
KNOWN = """
core/stack.cpp -> datatypes/error.h
core/stack.cpp -> datatypes/string.h
core/stack.cpp -> datatypes/word.h
core/value.cpp -> datatypes/error.h
core/value.cpp -> datatypes/function.h
"""

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def upward_includes(root):
    found = set()
    for layer in LAYERS:
        for folder, _, names in os.walk(os.path.join(root, layer)):
            for name in names:
                if not name.endswith((".cpp", ".h", ".inc")):
                    continue
                path = os.path.join(folder, name)
                rel = os.path.relpath(path, root).replace(os.sep, "/")
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for header in INCLUDE.findall(text):
                    top = header.split("/")[0]
                    if top in LAYERS and LAYERS.index(top) > LAYERS.index(layer):
                        found.add((rel, header))
    return found


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    known = {tuple(part.strip() for part in line.split("->")) for line in KNOWN.strip().splitlines()}
    found = upward_includes(root)
    bad = 0
    for rel, header in sorted(found - known):
        print("FAIL: %s includes %s, a layer above its own" % (rel, header))
        bad += 1
    for rel, header in sorted(known - found):
        print("FAIL: %s no longer includes %s: take it off the known list" % (rel, header))
        bad += 1
    print("%d upward includes known, %d found" % (len(known), len(found)))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
