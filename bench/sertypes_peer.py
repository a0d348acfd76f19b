"""The Python 3 side of bench/run-sertypes.sh: the same three workloads as
sertypes_bench.cpp, timed inside Python (medians), one "NAME SECONDS" line
per measure and the same check lines."""
import array
import base64
import random
import sys
import time


def median_of(runs, work):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    times.sort()
    return times[len(times) // 2]


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    rng = random.Random(1)
    data = rng.randbytes(10 * 1024 * 1024)
    box = {}
    enc = median_of(runs, lambda: box.__setitem__("text", base64.b64encode(data)))
    dec = median_of(runs, lambda: box.__setitem__("back", base64.b64decode(box["text"])))
    print("base64-python-encode %.4f\nbase64-python-decode %.4f" % (enc, dec))
    print("base64-check %d %d" % (len(box["back"]), len(box["back"])))

    keys = ["k%d" % i for i in range(1, 1000001)]

    def puts():
        d = {}
        for k in keys:
            d[k] = 1
        box["d"] = d

    def selects():
        d, hits = box["d"], 0
        for k in keys:
            if d.get(k):
                hits += 1
        box["hits"] = hits

    p = median_of(runs, puts)
    s = median_of(runs, selects)
    print("map-python-put %.4f\nmap-python-select %.4f\nmap-check %d" % (p, s, box["hits"]))

    box["v"] = array.array("i", bytes(4 * 10000000))
    v = median_of(runs, lambda: box.__setitem__("v", array.array("i", (x * 3 + 1 for x in box["v"]))))
    print("vector-python-array %.4f" % v)


main()
