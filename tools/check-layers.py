#!/usr/bin/env python3
"""Checks that the runtime's includes only look down its layers.

The top folders are layers, lowest first; a file may include headers of its
own layer and of the layers below it, never above. tools/, tests/ and bench/
stand outside the order and may include anything.

usage: tools/check-layers.py [source-root]
"""
import os
import re
import sys

LAYERS = ["platform", "core", "datatypes", "evaluator", "io", "library", "view", "console", "program"]

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
    found = upward_includes(root)
    for rel, header in sorted(found):
        print("FAIL: %s includes %s, a layer above its own" % (rel, header))
    print("%d upward includes" % len(found))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
