#!/usr/bin/env bash
# Dates and money beside Python, in one run: a million date steps (add a
# day and a second, the day difference, weekday, ISO week and the text form)
# against datetime, and a million money additions, multiplications and
# roundings to the cent against decimal. Prints the median of the runs of
# each and the ratio of Mox's time to Python's (below 1: Mox is faster).
#
# usage: bench/run-numtime.sh [RUNS]
set -eu
cd "$(dirname "$0")/.."
runs=${1:-5}
build=build/bench-numtime
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF >/dev/null
cmake --build "$build" --target mox-run -j 3 >/dev/null
python3 - "$build/mox-run" "$runs" <<'PY'
import statistics, subprocess, sys, time
mox, runs = sys.argv[1], int(sys.argv[2])
def median_time(cmd):
    times, out = [], None
    for _ in range(runs):
        start = time.perf_counter()
        result = subprocess.run(cmd, capture_output=True, text=True, check=True)
        times.append(time.perf_counter() - start)
        out = result.stdout.strip()
    return statistics.median(times), out
print("%-8s%10s%10s%10s" % ("program", "mox", "python3", "mox/py"))
for p in ["dates", "money"]:
    tm, om = median_time([mox, "bench/numtime/%s.mox" % p])
    tp, op = median_time(["python3", "bench/numtime/%s.py" % p])
    if om != op:
        sys.exit("%s: outputs differ: %r %r" % (p, om, op))
    print("%-8s%9.3fs%9.3fs%10.2f" % (p, tm, tp, tm / tp))
PY
