#!/usr/bin/env python3
"""Holds load-csv and to-csv against Python's csv module.

load-csv (csv/strict? off) must give the rows csv.reader gives for the same
text, except where the table names a difference; to-csv of those rows must
read back in csv.reader to the same fields. Runs once with the native
bodies and once with the Mox sources (--mox-bodies); the two must agree.

usage: csv_oracle.py MOX-RUN [EMULATOR...]
"""
import csv
import io
import json
import os
import subprocess
import sys
import tempfile

# (text, delimiter, rows when they differ from csv.reader's, why)
CASES = [
    ("a,b\n1,2\n", ",", None, ""),
    ("a,b\r\n1,2\r\n", ",", None, ""),
    ("a,b\r1,2\r", ",", None, ""),
    ("a,b\n1,2\r\n3,4\r5,6", ",", None, "mixed line ends, no final one"),
    ("a;b\n1;2\n", ";", None, ""),
    ("a,b;c\n", ";", None, ""),
    ('"a,b",c\n', ",", None, "quoted delimiter"),
    ('"a;b";c\n', ";", None, ""),
    ('"line\nend",x\n"cr\rin",y\r\n', ",", None, "quoted line ends"),
    ('"say ""hi""",2\n', ",", None, "doubled quotes"),
    ('"",x\n', ",", None, "empty quoted field"),
    ("a,,c\n,,\n", ",", None, "empty fields"),
    ('a"b,c\n', ",", None, "quote inside an unquoted field"),
    ("x\n\n\n", ",", None, "trailing blank lines"),
    ("h\u00e9,\U0001F600\n\u00e9t\u00e9,2\n", ",", None, "non-ASCII"),
    (" a , b \n", ",", None, "spaces kept"),
    ("a,b\n\nc,d\n", ",", [["a", "b"], [""], ["c", "d"]],
     "a blank line inside the text is a row of one empty field (csv.reader: no fields)"),
    ("a\n\nb\n", ",", [["a"], [""], ["b"]], "the same with one column"),
    ("1,2\n3\n", ",", None, "ragged rows (strict? off)"),
]

SCRIPT = r'''
cases: load-json read %cases.json
csv/strict?: false
results: copy []
foreach item cases [
	r: try [load-csv/with item/1 item/2]
	append/only results either error! = type? :r [form r/arg1] [r]
]
write %loaded.json to-json results
rows: load-json read %rows.json
written: copy []
foreach item rows [
	r: try [to-csv/with item/1 item/2]
	append written either error! = type? :r [form r/arg1] [r]
]
write %written.json to-json written
'''


def run(mox_run, emulator, cases, rows, mox_bodies):
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, "cases.json"), "w", encoding="utf-8") as f:
            json.dump([[t, dl] for t, dl, _, _ in cases], f, ensure_ascii=False)
        with open(os.path.join(d, "rows.json"), "w", encoding="utf-8") as f:
            json.dump(rows, f, ensure_ascii=False)
        with open(os.path.join(d, "run.mox"), "w", encoding="utf-8") as f:
            f.write(SCRIPT)
        args = emulator + [mox_run] + (["--mox-bodies"] if mox_bodies else []) + ["run.mox"]
        p = subprocess.run(args, cwd=d, capture_output=True, text=True, encoding="utf-8")
        if p.returncode != 0:
            print(p.stdout, p.stderr)
            raise SystemExit("mox-run failed")
        with open(os.path.join(d, "loaded.json"), encoding="utf-8") as f:
            loaded = json.load(f)
        with open(os.path.join(d, "written.json"), encoding="utf-8") as f:
            written = json.load(f)
        return loaded, written


def reader(text, delimiter):
    return list(csv.reader(io.StringIO(text, newline=""), delimiter=delimiter))


def main():
    mox_run = os.path.abspath(sys.argv[1])
    emulator = [a for a in sys.argv[2:] if a]
    failures = 0
    # Round trips: every aligned row set csv.reader reads, written by to-csv.
    rows = []
    for text, delimiter, _, _ in CASES:
        got = [r for r in reader(text, delimiter) if r]
        if got and all(len(r) == len(got[0]) for r in got):
            rows.append([got, delimiter])
    seen = {}
    for bodies in (False, True):
        label = "mox source" if bodies else "native"
        loaded, written = run(mox_run, emulator, CASES, rows, bodies)
        seen[bodies] = (loaded, written)
        for (text, delimiter, differs, why), got in zip(CASES, loaded):
            want = differs if differs is not None else [r for r in reader(text, delimiter) if r]
            if got != want:
                print("FAIL [%s] load %r (%s): %r, want %r" % (label, text, why, got, want))
                failures += 1
        for (want, delimiter), text in zip(rows, written):
            back = reader(text, delimiter)
            if back != want:
                print("FAIL [%s] to-csv %r: wrote %r, read back %r" % (label, want, text, back))
                failures += 1
    if seen[False] != seen[True]:
        print("FAIL native bodies and Mox sources differ")
        failures += 1
    print("csv oracle: %d texts, %d round trips, %d failures" % (len(CASES), len(rows), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
