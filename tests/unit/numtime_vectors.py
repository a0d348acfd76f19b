#!/usr/bin/env python3
"""Writes numtime_vectors.inc: oracle rows for the date!, time!, money!,
point and tuple! action tests, made with Python's datetime, calendar,
decimal and struct.
Run: python3 numtime_vectors.py > numtime_vectors.inc"""
import calendar
import datetime
import math
import random
import struct
from decimal import (Decimal, getcontext, ROUND_DOWN, ROUND_HALF_UP, ROUND_HALF_EVEN,
                     ROUND_HALF_DOWN, ROUND_FLOOR, ROUND_CEILING)

getcontext().prec = 40
rng = random.Random(20261210)
# Day numbers count from 1-Mar-0000; Python's ordinal 1 is 1-Jan-0001, day 306.
ORDINAL_OFFSET = 305
D = datetime


def rows(name, items):
    print("#define %s \\" % name)
    for item in items:
        print("    {%s}, \\" % ", ".join(str(x) for x in item))
    print("")


def c_str(s):
    return '"%s"' % s


# --- calendar fields ------------------------------------------------------

def week_u(d):
    w = int(d.strftime("%U"))
    return w if D.date(d.year, 1, 1).weekday() == 6 else w + 1


def calendar_rows():
    days = [D.date(1, 1, 1), D.date(9999, 12, 31), D.date(2021, 1, 1), D.date(2022, 1, 1),
            D.date(2024, 12, 31), D.date(2024, 1, 15), D.date(2020, 12, 31), D.date(2016, 1, 3),
            D.date(2017, 1, 1), D.date(2023, 1, 1), D.date(2000, 2, 29), D.date(1900, 3, 1)]
    for y in range(2000, 2030):
        for md in ((1, 1), (1, 2), (1, 3), (1, 4), (1, 7), (12, 28), (12, 29), (12, 30), (12, 31)):
            days.append(D.date(y, *md))
    for _ in range(600):
        days.append(D.date.fromordinal(rng.randint(1, D.date(9999, 12, 31).toordinal())))
    out = []
    for d in days:
        iso = d.isocalendar()
        out.append((d.year, d.month, d.day, d.toordinal() + ORDINAL_OFFSET, d.isoweekday(),
                    d.timetuple().tm_yday, iso[1], week_u(d), int(calendar.isleap(d.year))))
    return out


# --- epoch seconds ---------------------------------------------------------

def epoch_rows():
    ns = [0, 86399, 86400, -1, -86400, -86401, 2147483647, -2147483648, 951782400, 1704067199]
    ns += [rng.randint(-2147483648, 2147483647) for _ in range(300)]
    out = []
    for n in ns:
        t = D.datetime(1970, 1, 1) + D.timedelta(seconds=n)
        assert calendar.timegm(t.timetuple()) == n
        out.append((n, t.year, t.month, t.day, t.hour, t.minute, t.second))
    return out


# --- zoned arithmetic ------------------------------------------------------

ZONES = [0, 60, 330, 345, -210, -600, 585, 945, -945]


def tz(minutes):
    return D.timezone(D.timedelta(minutes=minutes))


def fields(dt):
    off = int(dt.utcoffset().total_seconds() // 60)
    return (dt.year, dt.month, dt.day, dt.hour, dt.minute, dt.second, off)


def random_dt():
    base = D.datetime(2024, 1, 1) + D.timedelta(seconds=rng.randint(-10**9, 10**9))
    return base.replace(tzinfo=tz(rng.choice(ZONES)))


def near_midnight():
    z = rng.choice(ZONES)
    day = D.datetime(2024, rng.randint(1, 12), rng.randint(1, 28), tzinfo=tz(z))
    return day + D.timedelta(minutes=rng.choice([-20, -10, -1, 0, 1, 10, 20, 59, 61]))


# op: 0 add days, 1 add seconds, 2 zone set (clock stays), 3 timezone set
# (instant stays), 4 hour set, 5 minute set, 6 second set
def zoned_rows():
    out = []
    for i in range(600):
        dt = near_midnight() if i % 2 else random_dt()
        op = i % 7
        if op == 0:
            k = rng.randint(-100000, 100000)
            r = dt + D.timedelta(days=k)
        elif op == 1:
            k = rng.randint(-10**7, 10**7)
            r = dt + D.timedelta(seconds=k)
        elif op in (2, 3):
            k = rng.choice(ZONES)
            r = dt.replace(tzinfo=tz(k)) if op == 2 else dt.astimezone(tz(k))
        elif op == 4:
            k = rng.randint(0, 23)
            r = dt.replace(hour=k)
        elif op == 5:
            k = rng.randint(0, 59)
            r = dt.replace(minute=k)
        else:
            k = rng.randint(0, 59)
            r = dt.replace(second=k)
        out.append(fields(dt) + (op, k) + fields(r))
    return out


def difference_rows():
    out = []
    for _ in range(300):
        a, b = random_dt(), random_dt()
        delta = a - b
        out.append(fields(a) + fields(b) + (delta.days, int(delta.total_seconds())))
    return out


# --- money -------------------------------------------------------------------

UNIT = Decimal("0.00001")
LIMIT = Decimal(10) ** 17


def money_text(d):
    if d == 0:
        d = abs(d)
    sign = "-" if d < 0 else ""
    q = abs(d).quantize(UNIT)
    return sign + "$" + format(q, "f")


def random_amount():
    digits = rng.choice([1, 3, 6, 10, 14, 17])
    whole = rng.randint(0, 10 ** digits - 1)
    frac = rng.choice([0, rng.randint(0, 99999), 50000, 25000])
    d = Decimal(whole) + Decimal(frac) * UNIT
    return -d if rng.random() < 0.4 else d


def cut(d):
    return d.quantize(UNIT, rounding=ROUND_DOWN)


def money_math_rows():
    out = []
    for i in range(1500):
        a, b = random_amount(), random_amount()
        op = i % 5
        if op == 2:  # money times money is refused: the factor is an integer
            b = Decimal(rng.choice([rng.randint(-9, 9), rng.randint(-99999, 99999),
                                    rng.randint(-2 ** 31, 2 ** 31 - 1)]))
        if op == 3 and b == 0:
            b = Decimal(3)
        if op == 4 and b == 0:
            b = Decimal("0.7")
        if op == 0:
            r = a + b
        elif op == 1:
            r = a - b
        elif op == 2:
            r = cut(a * b)
        elif op == 3:
            r = cut(a / b)
        else:
            r = a % b  # the dividend's sign
        result = "overflow" if abs(r) >= LIMIT else money_text(r)
        out.append((c_str(money_text(a)), c_str(money_text(b)), op, c_str(result)))
    return out


def half_ceiling(v, scale):
    q = (v / scale)
    lower = q.to_integral_value(rounding=ROUND_FLOOR)
    if q - lower == Decimal("0.5"):
        return (lower + 1) * scale
    return (v / scale).to_integral_value(rounding=ROUND_HALF_UP) * scale


MODES = [ROUND_HALF_UP, ROUND_HALF_EVEN, ROUND_DOWN, ROUND_HALF_DOWN, ROUND_FLOOR, ROUND_CEILING,
         None]


def money_round_rows():
    out = []
    scales = [Decimal(1), Decimal("0.01"), Decimal("0.25"), Decimal(10), Decimal("0.00003"),
              Decimal(7)]
    for i in range(700):
        v = random_amount()
        if i % 3 == 0:
            v = Decimal(rng.randint(-50, 50)) / 2  # ties
        scale = scales[i % len(scales)]
        mode = i % 7
        if MODES[mode] is None:
            r = half_ceiling(v, scale)
        else:
            r = (v / scale).to_integral_value(rounding=MODES[mode]) * scale
        result = "overflow" if abs(r) >= LIMIT else money_text(r)
        out.append((c_str(money_text(v)), c_str(money_text(scale)), mode, c_str(result)))
    return out


def money_float_rows():
    floats = [0.1, 0.3, 0.2, 1.1, 2.675, 1e-5, 1.5e-5, 123.456789, 99999999999999.99,
              0.12345, 0.123456, 1e16, 9.99999e16, 5e-6, 1e17, -0.1, -2.5, 1234567.891]
    floats += [rng.uniform(-1e6, 1e6) for _ in range(80)]
    floats += [round(rng.uniform(-1e4, 1e4), rng.randint(0, 5)) for _ in range(80)]
    out = []
    for f in floats:
        if f == 0 or abs(f) >= 1e17 or abs(f) < 1e-5:
            loose = strict = "bad"
        else:
            d = Decimal(repr(f))
            loose = money_text(cut(d))
            strict = loose if cut(d) == d else "bad"
        out.append(("%r" % f, c_str(loose), c_str(strict)))
    return out


# --- points ------------------------------------------------------------------

def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def bits(x):
    return "0x%08Xu" % struct.unpack("<I", struct.pack("<f", x))[0]


def g7(x):
    s = "%.7g" % x
    if "e" in s:
        m, e = s.split("e")
        sign = "-" if e[0] == "-" else ""
        s = m + "e" + sign + e[1:].lstrip("+-").lstrip("0")
    return s


def point_rows():
    out = []
    for i in range(300):
        x = f32(rng.choice([rng.uniform(-1e4, 1e4), rng.randint(-100, 100), 0.1, 1e-3]))
        f = rng.choice([rng.uniform(-100, 100), 2.5, 0.1, 3.0, 1e6])
        op = i % 5
        if op == 0:
            r = x + f
        elif op == 1:
            r = x - f
        elif op == 2:
            r = x * f
        elif op == 3:
            r = x / f
        else:
            r = math.fmod(x, f)
        r = f32(r)
        out.append((bits(x), "%r" % f, op, bits(r), c_str(g7(r))))
    return out


# --- tuples ------------------------------------------------------------------

def tuple_rows():
    out = []
    for i in range(300):
        n = rng.randint(3, 6)
        t = [rng.randint(0, 255) for _ in range(n)]
        op = i % 5
        kind = i % 3
        if kind == 0:
            v = rng.choice([0, 1, 7, 100, 300, -5, 2147483647, -2147483648])
            if op in (3, 4) and v == 0:
                v = 3
            r = []
            for b in t:
                if op == 0: x = b + v
                elif op == 1: x = b - v
                elif op == 2: x = b * v
                elif op == 3: x = int(b / v)
                else: x = b - int(b / v) * v
                r.append(max(0, min(255, x)))
            operand = "I(%d)" % v
        else:
            v = rng.choice([0.5, 1.5, -2.5, 1e300, 3.7, 0.0]) if kind == 1 else None
            if kind == 1:
                r = []
                for b in t:
                    if op == 0: x = b + v
                    elif op == 1: x = b - v
                    elif op == 2: x = b * v
                    elif op == 3: x = b / v if v != 0 else (math.inf if b > 0 else math.nan)
                    else: x = math.fmod(b, v) if v != 0 else math.nan
                    if x != x:
                        r.append(0)
                    else:
                        r.append(0 if x <= 0 else 255 if x >= 255 else int(x))
                operand = "F(%r)" % v
            else:
                m = rng.randint(3, 6)
                u = [rng.randint(1, 255) for _ in range(m)]
                n = max(n, m)
                t2 = t + [0] * (n - len(t))
                u2 = u + [0] * (n - len(u))
                r = []
                for a, b in zip(t2, u2):
                    if op == 0: x = a + b
                    elif op == 1: x = a - b
                    elif op == 2: x = a * b
                    elif op == 3: x = int(a / b) if b else None
                    else: x = a % b if b else None
                    r.append(x)
                if None in r:
                    continue
                r = [max(0, min(255, x)) for x in r]
                operand = "T(%s)" % c_str(".".join(map(str, u)))
        out.append((c_str(".".join(map(str, t))), operand, op, c_str(".".join(map(str, r)))))
    return out


print("// Generated by numtime_vectors.py; do not edit.")
rows("MOX_NT_CALENDAR_ROWS", calendar_rows())
rows("MOX_NT_EPOCH_ROWS", epoch_rows())
rows("MOX_NT_ZONED_ROWS", zoned_rows())
rows("MOX_NT_DIFFERENCE_ROWS", difference_rows())
rows("MOX_NT_MONEY_MATH_ROWS", money_math_rows())
rows("MOX_NT_MONEY_ROUND_ROWS", money_round_rows())
rows("MOX_NT_MONEY_FLOAT_ROWS", money_float_rows())
rows("MOX_NT_POINT_ROWS", point_rows())
rows("MOX_NT_TUPLE_ROWS", tuple_rows())
