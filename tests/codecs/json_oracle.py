#!/usr/bin/env python3
"""Holds load-json and to-json against Python's json module.

Every accepted text must load to the data json.loads gives (integers beyond
32 bits compare as floats, object keys as text), and what to-json writes
(plain, /ascii, /pretty) must read back in Python to the same data. Every
rejected text must give an error! value. Runs once with the native bodies
and once with the Mox sources (--mox-bodies).

usage: json_oracle.py MOX-RUN [EMULATOR...]
"""
import json
import math
import os
import subprocess
import sys
import tempfile

sys.setrecursionlimit(10000)

ACCEPT = [
    "0", "-0", "-0.0", "1.5e+10", "1E-2", "12345678901234567890", "2147483647",
    "-2147483648", "2147483648", "1e400", "123.456e-7",
    r'"\" \\ \/ \b \f \n \r \t"', r'"\u00e9"', r'"\uD83D\uDE00"', r'"\ud83d\ude00"',
    '"h\u00e9llo \u2028 \U0001F600"', "[]", "{}", " \t\r\n[ 1 ,\r\n2 ]\n\t ",
    "[" * 500 + "]" * 500, '"top"', "null", "true", "false",
    '{"a": 1, "a": 2}', '{"a":1,"A":2}', '{"-1": 1, "x y": 2, "1a": 3, "\'q": 4, "ok-word": 5}',
    '{"nested": {"deep": [1, {"x": null}], "e": {}}, "list": [true, false, "s"]}',
    '[1.0, 10, -3.25, 0.001, 1e-7, 5e22]',
]

REJECT = [
    "", "   ", "01", "+1", ".5", "1.", "1e", "-", "0x10", "NaN", "Infinity", "-Infinity",
    "True", "NULL", "[1,]", "[,1]", '{"a":1,}', '{"a" 1}', "{a:1}", "'x'", r'"\x"',
    r'"\u12"', '"a\tb"', '"a\nb"', '"abc', "[1, 2", '{"a": 1', "1 2", "[1] x",
    "[1] // c", "/* c */ 1", '{"a":1}}', "[" * 513 + "]" * 513,
]

RAISE = [r'"\uDC00"', r'"\uD800"', r'"\uD800\u0041"']


def normalise(v):
    if isinstance(v, bool) or v is None:
        return v
    if isinstance(v, int):
        return v if -2**31 <= v < 2**31 else float(v)
    if isinstance(v, float):
        return v
    if isinstance(v, list):
        return [normalise(x) for x in v]
    if isinstance(v, dict):
        return {k: normalise(x) for k, x in v.items()}
    return v


def refuse(name):
    raise ValueError(name)


def same(a, b):
    if isinstance(a, float) and isinstance(b, (int, float)) and not isinstance(b, bool):
        return a == b or (math.isinf(a) and math.isinf(b))
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    return type(a) == type(b) and a == b


SCRIPT = r'''
cases: load-json read %cases.json
n: 0
foreach text cases [
	n: n + 1
	r: try [load-json text]
	base: rejoin [%out- n]
	either error! = type? :r [
		write rejoin [base %.err] either 800 = r/code [form r/arg1] [form r/id]
	] [
		write rejoin [base %.plain] either error! = type? e: try [to-json :r] [form e/id] [e]
		write rejoin [base %.ascii] either error! = type? e: try [to-json/ascii :r] [form e/id] [e]
		write rejoin [base %.pretty] either error! = type? e: try [to-json/pretty :r "  "] [form e/id] [e]
	]
]
'''


def run(mox_run, emulator, texts, mox_bodies):
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, "cases.json"), "w", encoding="utf-8") as f:
            json.dump(texts, f, ensure_ascii=False)
        with open(os.path.join(d, "run.mox"), "w", encoding="utf-8") as f:
            f.write(SCRIPT)
        args = emulator + [mox_run] + (["--mox-bodies"] if mox_bodies else []) + ["run.mox"]
        p = subprocess.run(args, cwd=d, capture_output=True, text=True, encoding="utf-8")
        if p.returncode != 0:
            print(p.stdout, p.stderr)
            raise SystemExit("mox-run failed")
        out = []
        for i in range(1, len(texts) + 1):
            r = {}
            for kind in ("err", "plain", "ascii", "pretty"):
                path = os.path.join(d, "out-%d.%s" % (i, kind))
                if os.path.exists(path):
                    with open(path, encoding="utf-8") as f:
                        r[kind] = f.read()
            out.append(r)
        return out


def main():
    mox_run = os.path.abspath(sys.argv[1])
    emulator = [a for a in sys.argv[2:] if a]
    failures = 0
    texts = ACCEPT + REJECT + RAISE
    results = {}
    for bodies in (False, True):
        label = "mox source" if bodies else "native"
        got = run(mox_run, emulator, texts, bodies)
        results[bodies] = got
        for text, r in zip(texts, got):
            shown = text if len(text) < 60 else text[:57] + "..."
            if text in ACCEPT:
                want = normalise(json.loads(text, parse_constant=refuse))
                if "err" in r:
                    print("FAIL [%s] %r: error %s" % (label, shown, r["err"]))
                    failures += 1
                    continue
                for kind in ("plain", "ascii", "pretty"):
                    try:
                        back = normalise(json.loads(r[kind], parse_constant=refuse))
                    except ValueError as e:
                        # Infinity loads as a float but cannot be written.
                        if text == "1e400" and r[kind] == "invalid-arg":
                            continue
                        print("FAIL [%s] %r %s: not JSON: %r (%s)" % (label, shown, kind, r[kind], e))
                        failures += 1
                        continue
                    if not same(back, want):
                        print("FAIL [%s] %r %s: %r != %r" % (label, shown, kind, back, want))
                        failures += 1
                if "ascii" in r and any(ord(c) > 127 for c in r["ascii"]):
                    print("FAIL [%s] %r: /ascii wrote non-ASCII" % (label, shown))
                    failures += 1
            elif text in REJECT:
                try:
                    json.loads(text, parse_constant=refuse)
                    accepted_by_python = True
                except (ValueError, RecursionError):
                    accepted_by_python = False
                if accepted_by_python and text.startswith("[" * 513):
                    accepted_by_python = False  # our nesting limit
                if accepted_by_python or not r.get("err", "").startswith("Invalid JSON string."):
                    print("FAIL [%s] %r: want a returned error, got %r" % (label, shown, r))
                    failures += 1
            else:
                if r.get("err") != "invalid-data":
                    print("FAIL [%s] %r: want invalid-data, got %r" % (label, shown, r))
                    failures += 1
    for text, a, b in zip(texts, results[False], results[True]):
        if a != b:
            print("FAIL native and Mox source differ on %r: %r / %r" % (text[:60], a, b))
            failures += 1
    print("json oracle: %d cases, %d failures" % (len(texts), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
