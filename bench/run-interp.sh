#!/usr/bin/env bash
# The interpreter beside its peers, in one run: each program of bench/interp
# (recursive fib 30, a 10-million-step counting loop, calls with
# refinements, a block of a million items, object field reads and writes,
# string building) in Mox through mox-run and in Python 3, Lua 5.4 and Tcl
# 8.6. Prints the median of the runs of each, the ratio of Mox's time to
# each peer's, and the geometric mean of the ratios.
#
# usage: bench/run-interp.sh [RUNS]
set -eu
cd "$(dirname "$0")/.."
runs=${1:-5}
build=build/bench-interp
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF >/dev/null
cmake --build "$build" --target mox-run -j 3 >/dev/null
python3 - "$build/mox-run" "$runs" <<'PY'
import math, statistics, subprocess, sys, time
mox, runs = sys.argv[1], int(sys.argv[2])
peers = [("mox", [mox], "mox"), ("python3", ["python3"], "py"),
         ("lua5.4", ["lua5.4"], "lua"), ("tcl8.6", ["tclsh8.6"], "tcl")]
programs = ["fib", "count", "refine", "block", "object", "string"]
def median_time(cmd):
    times, out = [], None
    for _ in range(runs):
        start = time.perf_counter()
        result = subprocess.run(cmd, capture_output=True, text=True, check=True)
        times.append(time.perf_counter() - start)
        out = result.stdout.strip()
    return statistics.median(times), out
ratios = {name: [] for name, _, _ in peers[1:]}
print("%-8s" % "program" + "".join("%10s" % n for n, _, _ in peers) + "   mox/" + "  mox/".join(n for n, _, _ in peers[1:]))
for p in programs:
    times, outputs = [], []
    for name, cmd, ext in peers:
        t, out = median_time(cmd + ["bench/interp/%s.%s" % (p, ext)])
        times.append(t); outputs.append(out)
    if len(set(outputs)) != 1:
        sys.exit("%s: outputs differ: %r" % (p, outputs))
    line = "%-8s" % p + "".join("%9.3fs" % t for t in times)
    for (name, _, _), t in zip(peers[1:], times[1:]):
        ratios[name].append(times[0] / t)
        line += "  %8.2f" % (times[0] / t)
    print(line)
print("geometric mean of mox/peer: " + ", ".join(
    "%s %.2f" % (n, math.exp(sum(map(math.log, r)) / len(r))) for n, r in ratios.items()))
PY
