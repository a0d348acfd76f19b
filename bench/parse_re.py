"""The work of bench/parse_bench.cpp with Python's re: split lines of
comma-separated fields, and tokenise identifiers, numbers and quoted strings.
Prints one line per task with the median time and the counts.
Usage: python3 parse_re.py FILE [runs]"""
import re
import statistics
import sys
import time

CSV = re.compile(r'([^,\n]*)([,\n])')
TOKENS = re.compile(r'([A-Za-z_][A-Za-z0-9_]*)|([0-9]+)|("[^"]*")|[^A-Za-z0-9_"]+')


def csv(text):
    fields = lines = 0
    for m in CSV.finditer(text):
        m.group(1)
        fields += 1
        if m.group(2) == '\n':
            lines += 1
    return fields, lines


def tokens(text):
    counts = [0, 0, 0, 0]
    for m in TOKENS.finditer(text):
        counts[m.lastindex or 0] += 1
    return counts[1], counts[2], counts[3]


def main():
    text = open(sys.argv[1], encoding='utf-8').read()
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    for name, task in (('csv', csv), ('tokens', tokens)):
        times = []
        for _ in range(runs):
            t0 = time.perf_counter()
            counts = task(text)
            times.append(time.perf_counter() - t0)
        print(name, f'{statistics.median(times):.4f}', *counts)


main()
