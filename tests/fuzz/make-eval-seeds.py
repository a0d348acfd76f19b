#!/usr/bin/env python3
"""Writes the seed corpus of eval_fuzz: short programs taken from the code
of the cases in tests/mox/*.mox (the code block of each case line, without
its brackets), spread evenly over the files, and the lexer seeds. Run from
the top of the tree; it replaces tests/fuzz/corpus/eval."""
import glob
import os
import re
import shutil

COUNT = 200
MAX_LENGTH = 160
OUT = "tests/fuzz/corpus/eval"
# Programs that mention these are refused by the target (see eval_fuzz.cpp).
REFUSED = re.compile(
    r"(?<![\w?!-])(stack-size\?|frame-index\?|pick-stack|collect-calls|where|stack|trace|"
    r"tracing\?|profile|debug|parse-trace|transcode-trace|on-parse-event|now|time-it|clock|dt|"
    r"stats|show-memory-stats|recycle|routine!?|handle!|debug-info\?)(?![\w?!-])|[a-z]+://")


def case_code(line):
    """The text inside the case's leading [...], or None."""
    line = line.strip()
    if not line.startswith("[") or line.startswith("[]"):
        return None
    depth, i, n = 0, 0, len(line)
    while i < n:
        c = line[i]
        if c == '"':
            i += 1
            while i < n and line[i] != '"':
                i += 2 if line[i] == "^" else 1
        elif c == "{":
            braces = 1
            i += 1
            while i < n and braces:
                if line[i] == "^":
                    i += 1
                elif line[i] == "{":
                    braces += 1
                elif line[i] == "}":
                    braces -= 1
                i += 1
            continue
        elif c == ";":
            return None
        elif c == "[":
            depth += 1
        elif c == "]":
            depth -= 1
            if depth == 0:
                return line[1:i].strip()
        i += 1
    return None


def main():
    candidates = []
    for path in sorted(glob.glob("tests/mox/*.mox")):
        with open(path, encoding="utf-8") as f:
            for line in f:
                code = case_code(line)
                if code and len(code) <= MAX_LENGTH and not REFUSED.search(code):
                    candidates.append(code)
    step = max(1, len(candidates) // COUNT)
    chosen = candidates[::step][:COUNT]
    shutil.rmtree(OUT, ignore_errors=True)
    os.makedirs(OUT)
    for i, code in enumerate(chosen):
        with open(os.path.join(OUT, "case-%03d" % i), "w", encoding="utf-8") as f:
            f.write(code)
    for path in sorted(glob.glob("tests/fuzz/corpus/lexer/seed-*")):
        shutil.copy(path, os.path.join(OUT, "lexer-" + os.path.basename(path)))
    print("%d case programs of %d, and the lexer seeds" % (len(chosen), len(candidates)))


if __name__ == "__main__":
    main()
