#!/usr/bin/env python3
"""Writes integer_vectors.inc and float_vectors.inc next to this script: the
oracle tables of the integer! and float! tests, computed with Python's exact
integers, its %g formatting and repr (both correctly rounded), and the
rounding modes of the decimal module.

Run: python3 scalar_vectors.py"""
import math
import os
import random
import struct
from decimal import (Decimal, ROUND_CEILING, ROUND_DOWN, ROUND_FLOOR, ROUND_HALF_DOWN,
                     ROUND_HALF_EVEN, ROUND_HALF_UP, localcontext)

HERE = os.path.dirname(os.path.abspath(__file__))
INT_MIN, INT_MAX = -2**31, 2**31 - 1
EPSILON = 2.220446049250313e-16
ZERO_DIVIDE, OVERFLOW = 400, 401
rng = random.Random(20261209)


def bits(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def hexbits(x):
    return "0x%016XULL" % bits(x)


def c_int(i):
    return "INT32_MIN" if i == INT_MIN else str(i)


def c_string(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


# ---------------------------------------------------------------------------
# Integer arithmetic
# ---------------------------------------------------------------------------

OPS = ["OP_ADD", "OP_SUB", "OP_MUL", "OP_DIV", "OP_REM", "OP_OR", "OP_AND", "OP_XOR"]


def trunc_div(a, b):
    q = abs(a) // abs(b)
    return q if (a < 0) == (b < 0) else -q


def int_math(a, b, op):
    """(kind, integer, float) with kind 0 integer!, 1 float!, or the error code."""
    if op in (0, 1, 2):
        exact = [a + b, a - b, a * b][op]
        if INT_MIN <= exact <= INT_MAX:
            return 0, exact, 0.0
        fa, fb = float(a), float(b)
        return 1, 0, [fa + fb, fa - fb, fa * fb][op]
    if op in (3, 4):
        if b == 0:
            return ZERO_DIVIDE, 0, 0.0
        if a == INT_MIN and b == -1:
            return OVERFLOW, 0, 0.0
        if op == 3:
            if a % b != 0:
                return 1, 0, a / b
            return 0, trunc_div(a, b), 0.0
        return 0, a - b * trunc_div(a, b), 0.0
    r = [a | b, a & b, a ^ b][op - 5]
    return 0, r, 0.0


INTS = [0, 1, -1, -7, 7, 65536, -46341, 1000003, 2147483647, -2147483648, 1073741824]


def integer_math_rows():
    rows = []
    for a in INTS:
        for b in INTS:
            for op in range(8):
                kind, i, f = int_math(a, b, op)
                rows.append("    {%s, %s, %s, %d, %s, %s}," % (c_int(a), c_int(b), OPS[op], kind,
                                                          c_int(i), hexbits(f)))
    return rows


# ---------------------------------------------------------------------------
# Rounding (decimal module: exact)
# ---------------------------------------------------------------------------

MODES = ["MODE_NONE", "MODE_EVEN", "MODE_DOWN", "MODE_HALF_DOWN", "MODE_FLOOR", "MODE_CEILING",
         "MODE_HALF_CEILING"]


def decimal_mode(mode, negative):
    return [ROUND_HALF_UP, ROUND_HALF_EVEN, ROUND_DOWN, ROUND_HALF_DOWN, ROUND_FLOOR,
            ROUND_CEILING, ROUND_HALF_DOWN if negative else ROUND_HALF_UP][mode]


def round_decimal(value, scale, mode):
    """value rounded to a multiple of |scale|, exactly."""
    with localcontext() as ctx:
        ctx.prec = 200
        v, s = Decimal(value), abs(Decimal(scale))
        q = (v / s).quantize(Decimal(1), rounding=decimal_mode(mode, v < 0))
        return q * s


def integer_round_rows():
    rows = []
    values = [0, 5, -5, 7, -7, 15, -15, 2147483647, -2147483648, -2147483647, 1000000005]
    scales = [None, 2, -2, 3, 10, 2147483647, -2147483648]
    for v in values:
        for s in scales:
            for mode in range(7):
                if s is None:
                    r = v
                else:
                    r = int(round_decimal(v, s, mode))
                err = OVERFLOW if not INT_MIN <= r <= INT_MAX else 0
                rows.append("    {%s, %s, %s, %s, %s, %d}," % (
                    c_int(v), "false" if s is None else "true", c_int(0 if s is None else s),
                    MODES[mode], c_int(r if not err else 0), err))
    return rows


def quotient(v, s):
    """The double the rounding works on: v over a scale of 1 or more, else v
    times the inverse scale."""
    return v / s if s >= 1 else v * (1.0 / s)


def float_round_rows():
    """Each row's expected value is the exact decimal rounding. Rows whose
    double quotient rounds otherwise than the exact one are left out: there
    the result follows the double arithmetic, which no decimal oracle
    predicts."""
    rows = []
    values = [k / 8 for k in range(-41, 42, 9)] + [2.5, -2.5, 0.5, -0.5, 1.5, -1.5, 7.3, -7.3,
                                                   3.14159, 1e15 + 0.5, 123456.75, 1e300]
    scales = [(None, 0), (0.5, 2), (2.0, 2), (0.1, 2), (0.01, 2), (1, 1), (3, 1)]
    for v in values:
        for s, kind in scales:
            sc = 1.0 if s is None else float(s)
            if abs(v) * 2.0 ** -53 > sc:
                if kind == 1:
                    rows.append("    {%s, 1, 0, %d, MODE_NONE, 2, 0, 0}," % (hexbits(v), s))
                continue
            q = quotient(v, sc)
            for mode in range(7):
                with localcontext() as ctx:
                    ctx.prec = 400
                    rounding = decimal_mode(mode, v < 0)
                    exact = (Decimal(v) / Decimal(sc)).quantize(Decimal(1), rounding=rounding)
                    if Decimal(q).quantize(Decimal(1), rounding=rounding) != exact:
                        continue
                    whole = float(exact)
                r = whole * sc if sc >= 1 else whole / (1.0 / sc)
                if kind == 1 and not INT_MIN <= int(r) <= INT_MAX:
                    rows.append("    {%s, 1, 0, %d, %s, 2, 0, 0}," % (hexbits(v), s, MODES[mode]))
                elif kind == 1:
                    rows.append("    {%s, 1, 0, %d, %s, 1, 0, %s}," % (
                        hexbits(v), s, MODES[mode], c_int(int(r))))
                else:
                    rows.append("    {%s, %d, %s, 0, %s, 0, %s, 0}," % (
                        hexbits(v), kind, hexbits(s) if s is not None else "0", MODES[mode],
                        hexbits(r)))
    return rows


# ---------------------------------------------------------------------------
# Float text
# ---------------------------------------------------------------------------

def clean_exponent(t):
    if "e" not in t:
        return t
    m, e = t.split("e")
    sign = "-" if e[0] == "-" else ""
    return m + "e" + sign + (e.lstrip("+-").lstrip("0") or "0")


def noisy(t):
    if "e" in t:
        m = t.split("e")[0]
        if len(m) <= 16:
            return False
        last = m[-2:]
    else:
        start = t[1:] if t.startswith("-") else t
        if len(t) <= (17 if start.startswith("0") else 16):
            return False
        last = t[-2:]
    return last in ("01", "99")


def form(x, kind, pretty):
    if math.isnan(x):
        return "1.#NaN"
    if math.isinf(x):
        return "1.#INF" if x > 0 else "-1.#INF"
    percent = kind in (2, 3)
    if pretty and abs(x) < EPSILON:
        return "0%" if percent else "0" if kind == 5 else "0.0"
    precision = {0: 7, 1: 16, 2: 7, 3: 13, 5: 7}[kind]
    t = clean_exponent("%.*g" % (precision, x))
    if pretty and noisy(t):
        t = clean_exponent("%.*g" % (5 if kind in (0, 5) else 14, x))
    if percent:
        return t + "%"
    if kind != 5 and "." not in t:
        t = t.replace("e", ".0e") if "e" in t else t + ".0"
    return t


def mold(x):
    if math.isnan(x):
        return "1.#NaN"
    if math.isinf(x):
        return "1.#INF" if x > 0 else "-1.#INF"
    sign = "-" if math.copysign(1.0, x) < 0 else ""
    if x == 0:
        return sign + "0.0"
    d = Decimal(repr(abs(x))).as_tuple()
    raw = "".join(map(str, d.digits))
    point = len(raw) + d.exponent
    digits = raw.rstrip("0")
    n = len(digits)
    if point >= 18 or point < -6:
        text = digits[0] + "." + (digits[1:] or "0") + "e" + str(point - 1)
    elif point < 1:
        text = "0." + "0" * -point + digits
    elif n <= point:
        text = digits + "0" * (point - n) + ".0"
    else:
        text = digits[:point] + "." + digits[point:]
    return sign + text


def text_values():
    values = [0.1, 1.0, 1e20, 1.5e-5, 0.1 + 0.7, 0.1 + 0.2, 1 / 3, 2 / 3, 100.0, 1e16, 1e17,
              1e15, 123456789012345680000.0, 1e-7, 1e-8, 0.0001, 0.00001, -0.0, 0.0, 5e-324,
              1.7976931348623157e308, 2.2250738585072014e-308, 1e-300, 9007199254740993.0,
              1.000000000000001, 0.9999999999999999, 4.35, 1e21, 1e22, 1e23, 123.456, -42.0,
              3.0000000000000004, 1.0000000000000002, 299792458.0, 6.02214076e23]
    for _ in range(80):
        values.append(struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0])
    for _ in range(80):
        values.append(round(rng.uniform(-1, 1) * 10 ** rng.randint(-10, 20), rng.randint(0, 12)))
    for _ in range(40):
        values.append(rng.randint(1, 999) / 10 ** rng.randint(1, 4) + rng.randint(1, 999) /
                      10 ** rng.randint(1, 4))
    return [v for v in values if not (math.isnan(v) or math.isinf(v))]


def form_rows():
    rows = []
    for x in text_values():
        for kind in (1, 3):
            rows.append("    {%s, %d, %s, %s}," % (hexbits(x), kind, c_string(form(x, kind, True)),
                                                   c_string(form(x, kind, False))))
    return rows


def mold_rows():
    return ["    {%s, %s}," % (hexbits(x), c_string(mold(x))) for x in text_values()]


def write(name, sections):
    with open(os.path.join(HERE, name), "w") as out:
        out.write("// Generated by scalar_vectors.py; do not edit.\n")
        for comment, array, rows in sections:
            out.write("\n// %s\n%s = {\n" % (comment, array))
            out.write("\n".join(rows))
            out.write("\n};\n")


write("integer_vectors.inc", [
    ("a, b, op, kind (0 integer!, 1 float!, else the error code), integer, float bits",
     "const IntMathCase kIntMath[]", integer_math_rows()),
    ("value, has scale, scale, mode, result, error code (0 none)",
     "const IntRoundCase kIntRound[]", integer_round_rows()),
])
write("float_vectors.inc", [
    ("value bits, scale kind (0 none, 1 integer!, 2 float!), scale bits, integer scale, mode, "
     "result kind (0 float!, 1 integer!, 2 overflow), result bits, integer result",
     "const FloatRoundCase kFloatRound[]", float_round_rows()),
    ("value bits, text kind, form with the precision flag on, and off",
     "const FormCase kForm[]", form_rows()),
    ("value bits, mold", "const MoldCase kMold[]", mold_rows()),
])
