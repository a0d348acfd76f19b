#!/usr/bin/env python3
"""Python's json and csv on the benchmark documents: median milliseconds of
RUNS runs of each operation, one "name ms" line each."""
import csv
import io
import json
import statistics
import sys
import time

d, runs = sys.argv[1], int(sys.argv[2])


def median_ms(fn):
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        fn()
        times.append((time.perf_counter() - t) * 1000)
    return statistics.median(times)


text = open(d + "/doc.json", encoding="utf-8").read()
data = json.loads(text)
print("load-json", median_ms(lambda: json.loads(text)))
print("to-json", median_ms(lambda: json.dumps(data, ensure_ascii=False)))
print("to-json/pretty", median_ms(lambda: json.dumps(data, ensure_ascii=False, indent=2)))
rows_text = open(d + "/doc.csv", encoding="utf-8", newline="").read()
rows = list(csv.reader(io.StringIO(rows_text, newline="")))


def write_rows():
    out = io.StringIO()
    csv.writer(out, lineterminator="\n").writerows(rows)
    return out.getvalue()


print("load-csv", median_ms(lambda: list(csv.reader(io.StringIO(rows_text, newline="")))))
print("to-csv", median_ms(write_rows))
