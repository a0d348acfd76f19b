"""Peer of moxbin_bench.cpp: pickle (protocol 5) and marshal on a list of a
million values made by the same recipe, and zlib levels 1 and 6 and lzma
preset 0 on the files named on the command line. Prints "name op
milliseconds bytes" lines, each the median of several runs."""
import lzma
import marshal
import os
import pickle
import statistics
import sys
import time
import zlib


def median_ms(runs, f):
    times = []
    for _ in range(runs):
        t0 = time.perf_counter()
        f()
        times.append((time.perf_counter() - t0) * 1000)
    return statistics.median(times)


def generate(n):
    out = []
    for i in range(n):
        k = i % 5
        out.append(i if k == 0 else i * 0.5 if k == 1 else "s%d" % (i % 1000) if k == 2
                   else "w%d" % (i % 100) if k == 3 else [i, i + 1])
    return out


values = generate(1000000)
for name, dumps, loads in (("pickle", lambda v: pickle.dumps(v, protocol=5), pickle.loads),
                           ("marshal", marshal.dumps, marshal.loads)):
    data = dumps(values)
    print("values %s-encode %.3f %d" % (name, median_ms(5, lambda: dumps(values)), len(data)))
    print("values %s-decode %.3f %d" % (name, median_ms(5, lambda: loads(data)), len(data)))

for path in sys.argv[1:]:
    raw = open(path, "rb").read()
    name = os.path.basename(path)
    for label, comp, decomp in (
            ("zlib1", lambda d: zlib.compress(d, 1), zlib.decompress),
            ("zlib6", lambda d: zlib.compress(d, 6), zlib.decompress),
            ("lzma0", lambda d: lzma.compress(d, preset=0), lzma.decompress)):
        packed = comp(raw)
        print("%s %s-compress %.3f %d" % (name, label, median_ms(3, lambda: comp(raw)), len(packed)))
        print("%s %s-decompress %.3f %d" % (name, label, median_ms(11, lambda: decomp(packed)), len(packed)))
