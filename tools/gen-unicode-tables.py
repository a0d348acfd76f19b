#!/usr/bin/env python3
"""Writes core/unicode-tables.cpp: the case lists, the display-width ranges and
the Windows-1251 table used by core/unicode.cpp.

Run it with a Python whose unicodedata is version 14.0 (Python 3.11):

    python3 tools/gen-unicode-tables.py > core/unicode-tables.cpp

Case lists (Unicode 11.0). Python 3.11 carries the 14.0 database, so the 11.0
lists are the 14.0 mappings minus what changed after 11.0:

  * characters added in 12.0, 13.0 and 14.0 that have a case mapping
    (ADDED_AFTER_11 below; no character added in those versions maps to or
    from a character outside that set except the three of the next point);
  * three older small letters that received an upper-case partner in 12.0
    (UPPER_ADDED_IN_12): U+A794, U+0282 and U+1D8E; their upper case is
    themselves in 11.0.

No mapping of a character that was already cased in 11.0 changed later. The
result is checked against the sizes the runtime expects: 1,250 upper and
1,158 lower pairs in the BMP, of which 102 upper pairs come from a full upper
case of several characters, and 225 pairs per direction above it.

Each list maps a code point to the first character of its full case mapping.
Where the full mapping is one character it is the simple mapping; for the
characters whose full upper case is several characters it is the first of
them (U+00DF "SS" -> U+0053, U+1F80 -> U+1F08).

Width ranges (Unicode 14.0), inclusive and merged:
  * zero width: general categories Mn and Me, the Hangul medial vowels and
    final consonants U+1160-U+11FF, and the format characters U+0600-U+0605,
    U+061C, U+06DD, U+070F, plus U+1171E;
  * wide: East Asian Width W or F; unassigned code points take the default
    of their block (W in the CJK ideograph blocks and planes 2 and 3, else
    N); zero-width code points are left out;
  * ambiguous: East Asian Width A, zero-width code points left out.
"""

import codecs
import sys
import unicodedata

if unicodedata.unidata_version != "14.0.0":
    sys.exit("needs the Unicode 14.0 database, found " + unicodedata.unidata_version)

MAX_CP = 0x10FFFF

# Cased characters added in Unicode 12.0, 13.0 and 14.0.
ADDED_AFTER_11 = [
    (0xA7BA, 0xA7BF),    # 12.0 glottal A, I, U
    (0xA7C2, 0xA7C6),    # 12.0 Anglicana W, C with palatal hook, S and Z with hook
    (0xA7C7, 0xA7CA),    # 13.0 D and S with short stroke overlay
    (0xA7F5, 0xA7F6),    # 13.0 reversed half H
    (0x2C2F, 0x2C2F),    # 14.0 Glagolitic caudate chi
    (0x2C5F, 0x2C5F),
    (0xA7C0, 0xA7C1),    # 14.0 old Polish O
    (0xA7D0, 0xA7D1),    # 14.0 closed insular G
    (0xA7D6, 0xA7D9),    # 14.0 middle Scots S, sigmoid S
    (0x10570, 0x105BC),  # 14.0 Vithkuqi
]
UPPER_ADDED_IN_12 = {0xA794, 0x0282, 0x1D8E}

EXPECTED = {
    "upper_bmp": (1250, 0x0061, 0xFF5A),
    "lower_bmp": (1158, 0x0041, 0xFF3A),
    "upper_astral": (225, 0x10428, 0x1E943),
    "lower_astral": (225, 0x10400, 0x1E921),
}
EXPECTED_MULTI_UPPER = 102

ZERO_WIDTH_EXTRA = [(0x1160, 0x11FF), (0x0600, 0x0605), (0x061C, 0x061C), (0x06DD, 0x06DD),
                    (0x070F, 0x070F), (0x1171E, 0x1171E)]
WIDE_BY_DEFAULT = [(0x3400, 0x4DBF), (0x4E00, 0x9FFF), (0xF900, 0xFAFF), (0x20000, 0x2FFFD),
                   (0x30000, 0x3FFFD)]


def in_ranges(cp, ranges):
    return any(a <= cp <= b for a, b in ranges)


def fail(message):
    sys.exit("gen-unicode-tables: " + message)


def case_lists():
    lists = {name: [] for name in EXPECTED}
    multi = 0
    for cp in range(MAX_CP + 1):
        if in_ranges(cp, ADDED_AFTER_11):
            continue
        ch = chr(cp)
        plane = "bmp" if cp <= 0xFFFF else "astral"
        up = ch.upper()
        if up != ch and cp not in UPPER_ADDED_IN_12:
            if in_ranges(ord(up[0]), ADDED_AFTER_11):
                fail("U+%04X upper-cases to a character added after 11.0" % cp)
            lists["upper_" + plane].append((cp, ord(up[0])))
            if len(up) > 1 and plane == "bmp":
                multi += 1
        low = ch.lower()
        if low != ch:
            if in_ranges(ord(low[0]), ADDED_AFTER_11):
                fail("U+%04X lower-cases to a character added after 11.0" % cp)
            lists["lower_" + plane].append((cp, ord(low[0])))
    for name, (count, first, last) in EXPECTED.items():
        pairs = lists[name]
        if len(pairs) != count or pairs[0][0] != first or pairs[-1][0] != last:
            fail("%s: %d pairs from U+%04X to U+%04X" % (name, len(pairs), pairs[0][0],
                                                        pairs[-1][0]))
    if multi != EXPECTED_MULTI_UPPER:
        fail("%d multi-character upper cases" % multi)
    return lists


def runs(predicate):
    out = []
    start = None
    for cp in range(MAX_CP + 2):
        hit = cp <= MAX_CP and predicate(cp)
        if hit and start is None:
            start = cp
        elif not hit and start is not None:
            out.append((start, cp - 1))
            start = None
    return out


def east_asian_width(cp):
    ch = chr(cp)
    # The database answers nothing meaningful for unassigned code points.
    if unicodedata.category(ch) == "Cn":
        return "W" if in_ranges(cp, WIDE_BY_DEFAULT) else "N"
    return unicodedata.east_asian_width(ch)


def width_lists():
    zero = set()
    for cp in range(MAX_CP + 1):
        if unicodedata.category(chr(cp)) in ("Mn", "Me"):
            zero.add(cp)
    for a, b in ZERO_WIDTH_EXTRA:
        zero.update(range(a, b + 1))
    eaw = [east_asian_width(cp) for cp in range(MAX_CP + 1)]
    return {
        "zero_width": runs(lambda cp: cp in zero),
        "wide": runs(lambda cp: eaw[cp] in ("W", "F") and cp not in zero),
        "ambiguous": runs(lambda cp: eaw[cp] == "A" and cp not in zero),
    }


def cp1251():
    table = []
    for byte in range(0x80, 0x100):
        try:
            table.append(ord(bytes([byte]).decode("cp1251")))
        except UnicodeDecodeError:
            # 0x98 has no character; Windows passes it through as the C1 control.
            table.append(byte)
    return table


def emit_pairs(out, name, pairs):
    out.append("const CasePair %s_data[] = {" % name)
    line = "   "
    for cp, mapped in pairs:
        item = " {0x%X, 0x%X}," % (cp, mapped)
        if len(line) + len(item) > 100:
            out.append(line)
            line = "   "
        line += item
    out.append(line)
    out.append("};")
    out.append("static_assert(std::size(%s_data) == %s_COUNT);" % (name, name.upper()))


def emit_ranges(out, name, ranges):
    out.append("const Range %s_data[] = {" % name)
    line = "   "
    for a, b in ranges:
        item = " {0x%X, 0x%X}," % (a, b)
        if len(line) + len(item) > 100:
            out.append(line)
            line = "   "
        line += item
    out.append(line)
    out.append("};")


def main():
    cases = case_lists()
    widths = width_lists()
    out = [
        "// Unicode data of the case and width routines (unicode.h): the case",
        "// lists of Unicode 11.0, the display-width ranges of Unicode 14.0 and",
        "// the Windows-1251 code page. Generated by tools/gen-unicode-tables.py;",
        "// regenerate rather than edit.",
        '#include "core/unicode.h"',
        "",
        "#include <iterator>",
        "",
        "namespace mox::unicode {",
        "",
        "// clang-format off",
        "namespace {",
        "",
    ]
    for name in ("upper_bmp", "lower_bmp", "upper_astral", "lower_astral"):
        emit_pairs(out, name, cases[name])
        out.append("")
    for name in ("zero_width", "wide", "ambiguous"):
        emit_ranges(out, name, widths[name])
        out.append("")
    out.append("} // namespace")
    out.append("")
    for name in ("upper_bmp", "lower_bmp", "upper_astral", "lower_astral"):
        out.append("const std::span<const CasePair> %s{%s_data};" % (name, name))
    for name in ("zero_width", "wide", "ambiguous"):
        out.append("const std::span<const Range> %s_ranges{%s_data};" % (name, name))
    out.append("")
    out.append("const uint32_t cp1251_high[128] = {")
    table = cp1251()
    for i in range(0, 128, 8):
        out.append("    " + " ".join("0x%04X," % v for v in table[i:i + 8]))
    out.append("};")
    out.append("// clang-format on")
    out.append("")
    out.append("} // namespace mox::unicode")
    sys.stdout.write("\n".join(out) + "\n")
    sys.stderr.write("case pairs: %s; width ranges: %s\n" % (
        ", ".join("%s %d" % (k, len(v)) for k, v in cases.items()),
        ", ".join("%s %d" % (k, len(v)) for k, v in widths.items())))


if __name__ == "__main__":
    main()
