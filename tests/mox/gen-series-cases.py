#!/usr/bin/env python3
"""Writes the oracle rows of tests/mox/library-series.mox.

Python's str.split, str.replace, str.ljust/rjust, slicing and UTF-8 decoding
give the expected results; the rows replace the block between the
"generated rows" markers of the case file. Run it after changing the cases:

    python3 tests/mox/gen-series-cases.py
"""
import pathlib
import random
import re

CASES = pathlib.Path(__file__).with_name("library-series.mox")
BEGIN = "; -- generated rows (gen-series-cases.py): do not edit below --"
END = "; -- end of generated rows --"

rng = random.Random(20261210)


def text(alphabet, longest):
    return "".join(rng.choice(alphabet) for _ in range(rng.randint(0, longest)))


# The alphabets hold no character that a string mold escapes, so a mold is
# the text between double quotes.
def mold_str(s):
    return '"' + s + '"'


def mold_strs(items):
    return "[" + " ".join(mold_str(s) for s in items) + "]"


def mold_ints(items):
    return "[" + " ".join(str(i) for i in items) + "]"


def row(code, mold):
    # The expectation is a Mox string holding the mold: braces keep its quotes.
    return f"[{code}]    {{{mold}}}"


def split_rows():
    rows = ["== split against str.split and re.split"]
    for dlm in [",", ",-", "é", "ab"]:
        for _ in range(6):
            s = text("ab,-é", 12)
            rows.append(row(f"split {mold_str(s)} {mold_str(dlm)}", mold_strs(s.split(dlm))))
    for _ in range(6):
        s = text("ab,-", 12)
        rows.append(row(f'split {mold_str(s)} #","', mold_strs(s.split(","))))
    for _ in range(6):
        s = text("ab,-é", 12)
        rows.append(row(f'split {mold_str(s)} charset ",-"', mold_strs(re.split("[,-]", s))))
    return rows


def replace_rows():
    rows = ["== replace against str.replace"]
    for pattern in ["-", "ab", "é", "b-"]:
        for value in ["+", "", "xyz", "é"]:
            s = text("ab-é", 10)
            first = s.replace(pattern, value, 1)
            every = s.replace(pattern, value)
            args = f"{mold_str(s)} {mold_str(pattern)} {mold_str(value)}"
            rows.append(row(f"replace {args}", mold_str(first)))
            rows.append(row(f"replace/all {args}", mold_str(every)))
            rows.append(row(f"replace/all/case {args}", mold_str(every)))
    return rows


def pad_rows():
    rows = ["== pad against str.ljust and str.rjust"]
    for _ in range(12):
        s = text("ab é", 6)
        n = rng.randint(-1, 9)
        rows.append(row(f"pad {mold_str(s)} {n}", mold_str(s.ljust(max(n, 0)))))
        rows.append(row(f"pad/left {mold_str(s)} {n}", mold_str(s.rjust(max(n, 0)))))
        rows.append(row(f'pad/with {mold_str(s)} {n} #"*"', mold_str(s.ljust(max(n, 0), "*"))))
    return rows


def extract_rows():
    rows = ["== extract against slicing"]
    for _ in range(10):
        b = [rng.randint(0, 99) for _ in range(rng.randint(0, 9))]
        w = rng.randint(1, 4)
        i = rng.randint(1, 5)
        rows.append(row(f"extract {mold_ints(b)} {w}", mold_ints(b[::w])))
        rows.append(row(f"extract/index {mold_ints(b)} {w} {i}", mold_ints(b[i - 1 :: w])))
    for _ in range(4):
        s = text("abcdé", 9)
        w = rng.randint(1, 3)
        rows.append(row(f"extract {mold_str(s)} {w}", mold_str(s[::w])))
    return rows


def count_chars_rows():
    rows = ["== count-chars against UTF-8 decoding"]
    for _ in range(10):
        chars = text("aé€\U0001F600", 8)
        data = chars.encode()
        # Positions on character boundaries.
        bounds = [0]
        for c in chars:
            bounds.append(bounds[-1] + len(c.encode()))
        i, j = sorted(rng.sample(bounds, 2)) if len(bounds) > 1 else (0, 0)
        expected = len(data[i:j].decode())
        code = f"b: #{{{data.hex().upper()}}} count-chars skip b {i} skip b {j}"
        rows.append(row(code, str(expected)))
    return rows


def main():
    rows = split_rows() + replace_rows() + pad_rows() + extract_rows() + count_chars_rows()
    source = CASES.read_text(encoding="utf-8")
    head, rest = source.split(BEGIN + "\n", 1)
    _, tail = rest.split(END + "\n", 1)
    CASES.write_text(head + BEGIN + "\n" + "\n".join(rows) + "\n" + END + "\n" + tail,
                     encoding="utf-8")


if __name__ == "__main__":
    main()
