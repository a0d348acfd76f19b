#!/usr/bin/env python3
"""Prints the expected results of the case and width routines for every code
point, and the Windows-1251 code page, as computed by Python's unicodedata
(version 14.0) and codecs. unicode_test.cpp reads the output:

    U cp mapped        upper case of cp (code points that map to themselves
    L cp mapped        lower case        are not listed)
    W first last w cjk char_width and char_width_cjk of a run of code points
    C byte cp          Windows-1251

All numbers are hexadecimal. The case lists are those of Unicode 11.0: where
14.0 differs (characters cased after 11.0, and three letters whose upper case
was added in 12.0), the code point is listed in DIFFERS_FROM_11 and expected
to map to itself.
"""

import sys
import unicodedata

if unicodedata.unidata_version != "14.0.0":
    sys.exit("needs the Unicode 14.0 database")

DIFFERS_FROM_11 = set()
for first, last in [(0xA7BA, 0xA7CA), (0xA7F5, 0xA7F6), (0x2C2F, 0x2C2F), (0x2C5F, 0x2C5F),
                    (0xA7D0, 0xA7D9), (0x10570, 0x105BC)]:
    DIFFERS_FROM_11.update(range(first, last + 1))
UPPER_ONLY_DIFFERS = {0xA794, 0x0282, 0x1D8E}

ZERO_EXTRA = set(range(0x1160, 0x1200)) | set(range(0x600, 0x606)) | {0x61C, 0x6DD, 0x70F, 0x1171E}
WIDE_UNASSIGNED = [(0x3400, 0x4DBF), (0x4E00, 0x9FFF), (0xF900, 0xFAFF), (0x20000, 0x2FFFD),
                   (0x30000, 0x3FFFD)]


def eaw(cp):
    ch = chr(cp)
    if unicodedata.category(ch) == "Cn":
        return "W" if any(a <= cp <= b for a, b in WIDE_UNASSIGNED) else "N"
    return unicodedata.east_asian_width(ch)


def widths(cp):
    if cp == 0:
        return 0, 0
    if cp < 0x20 or 0x7F <= cp <= 0x9F:
        return 1, 1
    if unicodedata.category(chr(cp)) in ("Mn", "Me") or cp in ZERO_EXTRA:
        return 0, 0
    e = eaw(cp)
    w = 2 if e in ("W", "F") else 1
    return w, 2 if e == "A" else w


def main():
    out = []
    for cp in range(0x110000):
        ch = chr(cp)
        if cp in DIFFERS_FROM_11:
            continue
        up, low = ch.upper(), ch.lower()
        if up != ch and cp not in UPPER_ONLY_DIFFERS:
            out.append("U %X %X" % (cp, ord(up[0])))
        if low != ch:
            out.append("L %X %X" % (cp, ord(low[0])))
    start, current = 0, widths(0)
    for cp in range(1, 0x110001):
        w = widths(cp) if cp < 0x110000 else None
        if w != current:
            out.append("W %X %X %d %d" % (start, cp - 1, current[0], current[1]))
            start, current = cp, w
    for byte in range(0x80, 0x100):
        try:
            out.append("C %X %X" % (byte, ord(bytes([byte]).decode("cp1251"))))
        except UnicodeDecodeError:
            pass  # 0x98 has no character in the code page
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
