#!/usr/bin/env python3
"""Oracle vectors for the lexer's number and date literals, from Python's
float, decimal and datetime. One case a line, tab-separated:

  float  <text>  <IEEE bits of the value, 16 hex digits>
  pct    <text>  <IEEE bits of the value / 100>
  date   <text>  <the mold of the date>

Written to the file named by the first argument (stdout without one)."""
import datetime
import decimal
import random
import struct
import sys

rng = random.Random(20261209)
MONTHS = ["January", "February", "March", "April", "May", "June", "July", "August",
          "September", "October", "November", "December"]
lines = []


def bits(x):
    return "%016x" % struct.unpack("<Q", struct.pack("<d", x))[0]


def digits(n, quotes):
    s = "".join(rng.choice("0123456789") for _ in range(n))
    if quotes and n > 3:
        # apostrophes between digits, never two in a row
        out = []
        for i, c in enumerate(s):
            out.append(c)
            if i + 1 < n and rng.random() < 0.2 and out[-1] != "'":
                out.append("'")
        s = "".join(out)
    return s


for _ in range(600):
    sign = rng.choice(["", "", "-", "+"])
    whole = digits(rng.randint(1, 20), rng.random() < 0.3)
    frac = digits(rng.randint(1, 20), False)
    form = rng.randint(0, 3)
    if form == 0:
        text = sign + whole + "." + frac
    elif form == 1:
        text = sign + whole + "." + frac + rng.choice("eE") + rng.choice(["", "-", "+"]) + str(rng.randint(0, 330))
    elif form == 2:
        text = sign + "." + frac
    else:
        text = sign + whole + "e" + rng.choice(["-", ""]) + str(rng.randint(0, 310))
    if form != 3 and rng.random() < 0.1:
        text = sign + "0.000" + frac
    value = float(text.replace("'", ""))
    if value != value or value in (float("inf"), float("-inf")):
        continue
    lines.append("float\t%s\t%s" % (text, bits(value)))

decimal.getcontext().prec = 80
for _ in range(150):
    text = rng.choice(["", "-"]) + digits(rng.randint(1, 6), False) + "." + digits(rng.randint(1, 8), False)
    value = float(decimal.Decimal(text) / 100)
    lines.append("pct\t%s%%\t%s" % (text, bits(value)))


def month_name(m):
    name = MONTHS[m - 1]
    name = name[:rng.randint(3, len(name))]
    return rng.choice([name, name.lower(), name.upper()])


def mold(d, t=None):
    s = "%d-%s-%d" % (d.day, MONTHS[d.month - 1][:3], d.year)  # years from 100 on
    if t is not None:
        s += "/%d:%02d:%02d" % t
    return s


for _ in range(500):
    d = datetime.date.fromordinal(rng.randint(datetime.date(100, 1, 1).toordinal(),
                                              datetime.date(9999, 12, 31).toordinal()))
    form = rng.randint(0, 6)
    t = None
    if form == 0:
        text = "%d-%s-%d" % (d.day, month_name(d.month), d.year)
    elif form == 1:
        text = "%04d-%02d-%02d" % (d.year, d.month, d.day)
    elif form == 2:
        text = "%d/%d/%d" % (d.day, d.month, d.year)
    elif form == 3:
        text = "%04d-%03d" % (d.year, d.timetuple().tm_yday)
    elif form == 4:
        y, w, wd = d.isocalendar()
        if y < 100:
            continue
        text = "%04d-W%02d-%d" % (y, w, wd)
    elif form == 5:
        t = (rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59))
        text = "%04d%02d%02dT%02d%02d%02d" % (d.year, d.month, d.day, t[0], t[1], t[2])
    else:
        yy = rng.randint(0, 99)
        d = d.replace(year=(1900 if yy > 49 else 2000) + yy) if not (d.month == 2 and d.day == 29) else d.replace(day=28, year=(1900 if yy > 49 else 2000) + yy)
        text = "%d-%s-%02d" % (d.day, month_name(d.month), yy)
    if t is None and rng.random() < 0.3:
        t = (rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59))
        text += rng.choice("/T") + "%d:%02d:%02d" % t
    lines.append("date\t%s\t%s" % (text, mold(d, t)))

out = open(sys.argv[1], "w") if len(sys.argv) > 1 else sys.stdout
out.write("\n".join(lines) + "\n")
