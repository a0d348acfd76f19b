#!/usr/bin/env python3
"""Writes the same generated data three ways for the lexer benchmark:
data.mox (Mox literals), data.json (for Python's json.loads) and data.lua
(a Lua table constructor). Records are nested blocks of words, integers,
floats, strings and dates; words and dates become strings in JSON and Lua.

usage: lexer-gen.py OUTDIR [MEGABYTES]"""
import json
import random
import sys

out = sys.argv[1]
target = int(float(sys.argv[2]) if len(sys.argv) > 2 else 20) * 1000 * 1000
rng = random.Random(42)
WORDS = ["id", "name", "score", "when", "tags", "child", "alpha", "beta", "gamma", "delta",
         "on-time", "late?", "value", "count", "total", "item", "kind", "label"]
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]


def text():
    n = rng.randint(3, 24)
    return "".join(rng.choice("abcdefghij klmnopqrstuvwxyz") for _ in range(n)).strip() or "x"


def value(depth):
    k = rng.random()
    if k < 0.25:
        return ("word", rng.choice(WORDS))
    if k < 0.45:
        return ("int", rng.randint(-100000, 1000000))
    if k < 0.6:
        return ("float", round(rng.uniform(-1000, 1000), rng.randint(1, 6)))
    if k < 0.8:
        return ("str", text())
    if k < 0.9:
        return ("date", (rng.randint(1, 28), rng.randint(1, 12), rng.randint(1970, 2030)))
    if depth < 4:
        return ("block", [value(depth + 1) for _ in range(rng.randint(1, 6))])
    return ("int", 0)


def mox(v):
    kind, x = v
    if kind == "word":
        return x
    if kind in ("int", "float"):
        return repr(x)
    if kind == "str":
        return '"' + x + '"'
    if kind == "date":
        return "%d-%s-%d" % (x[0], MONTHS[x[1] - 1], x[2])
    return "[" + " ".join(mox(e) for e in x) + "]"


def plain(v):
    kind, x = v
    if kind == "date":
        return "%04d-%02d-%02d" % (x[2], x[1], x[0])
    if kind == "block":
        return [plain(e) for e in x]
    return x


def lua(v):
    kind, x = v
    if kind in ("word", "str"):
        return '"' + x + '"'
    if kind in ("int", "float"):
        return repr(x)
    if kind == "date":
        return '"%04d-%02d-%02d"' % (x[2], x[1], x[0])
    return "{" + ",".join(lua(e) for e in x) + "}"


records = []
size = 0
while size < target:
    r = ("block", [value(1) for _ in range(rng.randint(4, 12))])
    records.append(r)
    size += len(mox(r)) + 1

with open(out + "/data.mox", "w") as f:
    f.write("\n".join(mox(r) for r in records) + "\n")
with open(out + "/data.json", "w") as f:
    json.dump([plain(r) for r in records], f, separators=(",", ":"))
# Lua limits the constants of one function: the records go into the table
# in chunks, each chunk a function of its own.
with open(out + "/data.lua", "w") as f:
    f.write("local t = {}\n")
    for i in range(0, len(records), 2000):
        f.write("do local n = #t\nfor i, r in ipairs({" +
                ",".join(lua(r) for r in records[i:i + 2000]) + "}) do t[n + i] = r end end\n")
    f.write("return t\n")
