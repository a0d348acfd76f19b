#!/usr/bin/env python3
"""Writes ext_vectors.inc: oracle rows for the date!, money! and binary
literal tests, made with Python's datetime, decimal, base64 and binascii.
Run: python3 ext_vectors.py > ext_vectors.inc"""
import base64
import binascii
import datetime
import random
from decimal import Decimal, ROUND_DOWN

rng = random.Random(20261209)
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
# Day numbers count from 1-Mar-0000; Python's ordinal 1 is 1-Jan-0001, day 306.
ORDINAL_OFFSET = 305


def c_string(s):
    out = '"'
    for ch in s:
        if ch in '"\\':
            out += "\\" + ch
        elif ch == "\n":
            out += "\\n"
        elif 32 <= ord(ch) < 127:
            out += ch
        else:
            out += "\\x%02x\" \"" % ord(ch)
    return out + '"'


def year_text(y):
    return "%04d" % y if y <= 99 else str(y)


def dates():
    days = [datetime.date(1, 1, 1), datetime.date(9999, 12, 31), datetime.date(2000, 2, 29),
            datetime.date(1900, 2, 28), datetime.date(1900, 3, 1), datetime.date(1970, 1, 1),
            datetime.date(2021, 1, 1), datetime.date(2022, 1, 1), datetime.date(2024, 12, 31),
            datetime.date(2024, 1, 1), datetime.date(2024, 1, 7), datetime.date(2004, 12, 31)]
    for _ in range(400):
        days.append(datetime.date.fromordinal(rng.randint(1, datetime.date(9999, 12, 31).toordinal())))
    print("// Calendar rows: year, month, day, day number, weekday, year day, ISO week, text.")
    print("#define MOX_DATE_ROWS \\")
    for d in days:
        text = "%d-%s-%s" % (d.day, MONTHS[d.month - 1], year_text(d.year))
        print("    {%d, %d, %d, %d, %d, %d, %d, %s}, \\" % (
            d.year, d.month, d.day, d.toordinal() + ORDINAL_OFFSET, d.isoweekday(),
            d.timetuple().tm_yday, d.isocalendar()[1], c_string(text)))
    print("")


def zoned():
    print("// Dates with time and zone: year, month, day, hour, minute, second, zone")
    print("// hours, zone minutes, seconds since 1970 at UTC, text.")
    print("#define MOX_ZONED_ROWS \\")
    cases = [(2024, 1, 1, 0, 30, 0, 1, 0), (2024, 1, 15, 10, 30, 0, 1, 0),
             (1970, 1, 1, 0, 0, 0, 0, 0), (2024, 3, 1, 23, 59, 59, -5, -30),
             (2023, 12, 31, 23, 45, 0, 14, 45), (2000, 2, 29, 12, 0, 0, -12, 0)]
    for _ in range(150):
        zh = rng.randint(-15, 15)
        zm = rng.choice([0, 15, 30, 45]) if zh else rng.choice([0, 15, 30, 45])
        cases.append((rng.randint(1902, 2037), rng.randint(1, 12), rng.randint(1, 28),
                      rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59), zh, zm))
    for (y, mo, d, h, mi, s, zh, zm) in cases:
        sign = -1 if zh < 0 or (zh == 0 and zm < 0) else 1
        offset = datetime.timedelta(hours=abs(zh), minutes=abs(zm)) * sign
        dt = datetime.datetime(y, mo, d, h, mi, s, tzinfo=datetime.timezone(offset))
        epoch = int((dt - datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)).total_seconds())
        text = "%d-%s-%s/%d:%02d:%02d" % (d, MONTHS[mo - 1], year_text(y), h, mi, s)
        if offset:
            total = abs(int(offset.total_seconds())) // 60
            text += "%s%02d:%02d" % ("-" if sign < 0 else "+", total // 60, total % 60)
        print("    {%d, %d, %d, %d, %d, %d, %d, %d, %d, %s}, \\" % (
            y, mo, d, h, mi, s, zh, zm, epoch, c_string(text)))
    print("")


def group(digits):
    out = ""
    for i, ch in enumerate(digits):
        if i and (len(digits) - i) % 3 == 0:
            out += "'"
        out += ch
    return out


def money():
    print("// Money rows: literal digits before and after the point, negative?, currency")
    print("// or \"\", mold, mold/all, form.")
    print("#define MOX_MONEY_ROWS \\")
    cases = [("0", "", False, ""), ("1234567", "5", False, ""), ("1234", "5", True, ""),
             ("1234", "5", False, "EUR"), ("0", "00012", False, ""), ("99999999999999999", "99999", False, "USD"),
             ("007", "1", True, "USD"), ("1", "123456", False, "")]
    for _ in range(200):
        digits = str(rng.randint(0, 10 ** rng.randint(1, 17) - 1))
        frac = "".join(rng.choice("0123456789") for _ in range(rng.randint(0, 5)))
        cases.append((digits, frac, rng.random() < 0.3, rng.choice(["", "", "USD", "EUR", "ZMW", "AED"])))
    for (whole, frac, negative, cur) in cases:
        amount = Decimal(whole + ("." + frac if frac else ""))
        cut5 = amount.quantize(Decimal("0.00001"), rounding=ROUND_DOWN)
        cut2 = amount.quantize(Decimal("0.01"), rounding=ROUND_DOWN)
        sign = "-" if negative and amount != 0 else ""
        int2, frac2 = str(cut2).split(".")
        int5, frac5 = str(cut5).split(".")
        mold = "%s%s$%s.%s" % (sign, cur, int2, frac2)
        mold_all = "%s%s$%s.%s" % (sign, cur, int5, frac5)
        form = "%s%s$%s.%s" % (sign, cur, group(int2), frac2)
        print("    {%s, %s, %s, %s, %s, %s, %s}, \\" % (
            c_string(whole), c_string(frac), "true" if negative else "false", c_string(cur),
            c_string(mold), c_string(mold_all), c_string(form)))
    print("")


def spaced(text):
    out = ""
    for ch in text:
        out += ch
        r = rng.random()
        if r < 0.05:
            out += "\n"
        elif r < 0.1:
            out += " "
    return out


def base58(data):
    alphabet = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"
    n = int.from_bytes(data, "big")
    out = ""
    while n:
        n, r = divmod(n, 58)
        out = alphabet[r] + out
    zeros = len(data) - len(data.lstrip(b"\0"))
    return "1" * zeros + out


def bases():
    print("// Decoder rows: base, text, expected bytes in hexadecimal.")
    print("#define MOX_BASE_ROWS \\")
    rows = []
    for _ in range(120):
        data = bytes(rng.randrange(256) for _ in range(rng.randint(0, 40)))
        if rng.random() < 0.2:
            data = b"\0" * rng.randint(1, 3) + data
        b64 = base64.b64encode(data).decode()
        rows.append((64, spaced(b64), data))
        rows.append((64, b64.rstrip("="), data))
        hexed = binascii.hexlify(data).decode()
        hexed = "".join(ch.upper() if rng.random() < 0.5 else ch for ch in hexed)
        rows.append((16, spaced(hexed), data))
        rows.append((2, spaced("".join(format(b, "08b") for b in data)), data))
        rows.append((58, base58(data), data))
    for (base, text, data) in rows:
        print("    {%d, %s, \"%s\"}, \\" % (base, c_string(text), binascii.hexlify(data).decode().upper()))
    print("")


print("// Generated by ext_vectors.py; do not edit.")
dates()
zoned()
money()
bases()
