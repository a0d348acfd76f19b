#!/usr/bin/env python3
"""The peer of deflate_bench: zlib.crc32, zlib.compress at level 6 and
zlib.decompress over the same files, printed in the same form."""
import statistics, sys, time, zlib

def median_ms(runs, f):
    times = []
    for _ in range(runs):
        t0 = time.perf_counter()
        f()
        times.append((time.perf_counter() - t0) * 1000)
    return statistics.median(times)

for name in sys.argv[1:]:
    data = open(name, "rb").read()
    crc = median_ms(21, lambda: zlib.crc32(data))
    packed = zlib.compress(data, 6)
    deflate = median_ms(7, lambda: zlib.compress(data, 6))
    inflate = median_ms(11, lambda: zlib.decompress(packed))
    print("%s crc32 %.3f %d" % (name, crc, len(data)))
    print("%s deflate %.3f %d" % (name, deflate, len(packed)))
    print("%s inflate %.3f %d" % (name, inflate, len(data)))
