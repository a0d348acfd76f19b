#!/usr/bin/env python3
"""Native bodies against Mox sources on random texts.

Builds JSON and CSV texts by mutating valid ones (cut, doubled, swapped and
stray characters, odd line ends, deep nesting), picks random refinements,
and has one mox-run process call load-json, load-csv, to-json and to-csv
through the bound native bodies and through functions made from the same
spec and Mox body: results, returned errors and raised error ids must agree.

usage: differential.py MOX-RUN [EMULATOR...]
(MOX_DIFF_CASES and MOX_DIFF_SEED set the number of texts and the seed)
"""
import json
import os
import random
import subprocess
import sys
import tempfile

JSON_SEEDS = [
    '{"a": [1, 2.5, -3e2, true, false, null], "b": {"c": "x\\ny\\u00e9\\uD83D\\uDE00"}}',
    '[{"k": "v", "K": 0}, [], {}, "", 0, -0.0, 12345678901234567890]',
    '{"name": "x", "x y": 1, "-1": 2, "1a": 3, "a-b": {"deep": [[[["z"]]]]}}',
    '"top \\" \\\\ \\/ \\b \\f \\n \\r \\t"',
    ' \r\n\t[ 1 ,\n 2 ]\n',
]
CSV_SEEDS = [
    'a,b,c\n1,"x,y",3\n"q""q",,"l\nm"\n',
    'h1;h2\r\n1;2\r\n3;4\r\n',
    ' "a" , b \n"c" ,d\n',
    'x\n\ny\n\r\n',
    "'a,b',c\n'd''e',f\n",
]
NOISE = ['"', ',', ';', '\n', '\r', '\r\n', '\\', '[', ']', '{', '}', ':', ' ', "'", 'e',
         '0', '-', '.', 'u', '\u00e9', '\U0001F600', '\t', '""', '\\u', '\\uD800']


def mutate(rng, text):
    for _ in range(rng.randint(0, 4)):
        op = rng.randint(0, 4)
        i = rng.randint(0, len(text))
        if op == 0:
            text = text[:i] + rng.choice(NOISE) + text[i:]
        elif op == 1 and text:
            j = min(len(text), i + rng.randint(1, 4))
            text = text[:i] + text[j:]
        elif op == 2:
            text = text[:i]
        elif op == 3:
            j = rng.randint(0, len(text))
            text = text[:i] + text[min(i, j):max(i, j)] + text[i:]
        else:
            n = rng.randint(1, 600)
            text = "[" * n + text + "]" * rng.randint(n - 1, n)
    return text


SCRIPT = r'''
mj: func spec-of :load-json body-of :load-json
mt: func spec-of :to-json body-of :to-json
mc: func spec-of :load-csv body-of :load-csv
mw: func spec-of :to-csv body-of :to-csv
outcome: func [code /local r] [
	either error! = type? set/any 'r try code [
		either 800 = r/code [rejoin ["returned " mold r/arg1]] [rejoin ["raised " r/id]]
	] [mold/all :r]
]
; refinement paths for load-csv, picked by the case's number
csv-refs: [
	[] [trim] [header] [as-records] [flat] [as-columns] [header as-records] [quote]
	[with] [with trim] [header trim] [flat header]
]
fails: 0
cases: load-json read %cases.json
foreach item cases [
	kind: item/1 text: item/2 pick-n: item/3
	either kind = "json" [
		a: outcome [mj text] b: outcome [load-json text]
		if a = b [
			r: try [load-json text]
			unless error! = type? r [
				a: outcome [mt r] b: outcome [to-json r]
				if a = b [a: outcome [mt/pretty/ascii r "  "] b: outcome [to-json/pretty/ascii r "  "]]
			]
		]
	] [
		refs: pick csv-refs 1 + (pick-n // length? csv-refs)
		csv/strict?: odd? pick-n
		csv/ignore-empty?: zero? pick-n // 3
		args: reduce [text]
		if find refs 'with [append args either even? pick-n [#";"] ["::"]]
		if find refs 'quote [append args #"'"]
		call-with: func [f] [
			f: to path! reduce [f]
			foreach r refs [append f r]
			do append reduce [f] args
		]
		a: outcome [call-with 'mc] b: outcome [call-with 'load-csv]
		if a = b [
			r: try [call-with 'load-csv]
			if block! = type? r [
				a: outcome [mw r] b: outcome [to-csv r]
			]
		]
	]
	if a <> b [
		fails: fails + 1
		print ["MISMATCH" kind mold text "^/  mox source:" a "^/  native:    " b]
	]
]
print ["differential:" length? cases "cases," fails "mismatches"]
'''


def main():
    mox_run = os.path.abspath(sys.argv[1])
    emulator = [a for a in sys.argv[2:] if a]
    count = int(os.environ.get("MOX_DIFF_CASES", "400"))
    rng = random.Random(int(os.environ.get("MOX_DIFF_SEED", "18")))
    cases = []
    for i in range(count):
        if i % 2:
            cases.append(["json", mutate(rng, rng.choice(JSON_SEEDS)), i])
        else:
            cases.append(["csv", mutate(rng, rng.choice(CSV_SEEDS)), rng.randint(0, 1000)])
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, "cases.json"), "w", encoding="utf-8") as f:
            json.dump(cases, f, ensure_ascii=False)
        with open(os.path.join(d, "run.mox"), "w", encoding="utf-8") as f:
            f.write(SCRIPT)
        p = subprocess.run(emulator + [mox_run, "run.mox"], cwd=d, capture_output=True,
                           text=True, encoding="utf-8")
    print(p.stdout[-4000:], p.stderr[-2000:])
    ok = p.returncode == 0 and " 0 mismatches" in p.stdout
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
