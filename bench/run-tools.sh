#!/usr/bin/env bash
# The tracers beside Python's, in one run:
# - profile of recursive fib(20) against the pure-Python profile module:
#   each side's profiled time over its plain time;
# - trace/deep of fib(15) with its lines going to the null device against
#   python3 -m trace --trace: the time each adds per fib call (the whole
#   run's processor time less a plain run's, over fib(15)'s 1973 calls),
#   and the same with the tracer's Mox bodies (mox-run --mox-bodies); with
#   MOX_RUN_OLD=path, the same for another mox-run, in the same rounds;
# - sum and average of a million floats against sum and statistics.fmean.
# Prints medians of the runs and the ratios (below 1: Mox is faster).
#
# usage: [MOX_RUN_OLD=path/to/mox-run] bench/run-tools.sh [RUNS]
set -eu
cd "$(dirname "$0")/.."
runs=${1:-5}
build=build/bench-tools
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF >/dev/null
cmake --build "$build" --target mox-run -j 3 >/dev/null
python3 - "$build/mox-run" "$runs" <<'PY'
import os, resource, statistics, subprocess, sys
mox, runs = sys.argv[1], int(sys.argv[2])

def medians(cmd):
    """Medians of the numbers the program prints, over the runs."""
    rows = []
    for _ in range(runs):
        out = subprocess.run(cmd, capture_output=True, text=True, check=True).stdout
        rows.append([float(x) for x in out.split()])
    return [statistics.median(col) for col in zip(*rows)]

def cpu_once(cmd):
    """Processor time (user and system) of one run of the program: the
    machine may be busy with other work."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(cmd, stdout=subprocess.DEVNULL, check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime

def cpu(cmd):
    """Median processor time of the program's runs."""
    return statistics.median(cpu_once(cmd) for _ in range(runs))

mp, mq = medians([mox, "bench/tools/prof_fib.mox"])
pp, pq = medians(["python3", "bench/tools/prof_fib.py"])
print("profile fib(20)     plain    profiled  profiled/plain")
print("  mox           %8.4fs %9.4fs %10.1f" % (mp, mq, mq / mp))
print("  python3       %8.4fs %9.4fs %10.1f" % (pp, pq, pq / pp))
print("  overhead ratio mox/python3: %.2f" % ((mq / mp) / (pq / pp)))

# The traced runs of each side and their plain runs take turns, round after
# round, so that a busy spell of the machine weighs on all of them; with
# MOX_RUN_OLD set, another mox-run (an older build) takes its turn too.
calls = 1973
sides = {"mox": ([mox, "bench/tools/trace.mox"], [mox, "bench/tools/plain.mox"]),
         "python3": (["python3", "-m", "trace", "--trace", "bench/tools/fib.py"],
                     ["python3", "bench/tools/fib.py"])}
old = os.environ.get("MOX_RUN_OLD")
if old:
    sides["old mox"] = ([old, "bench/tools/trace.mox"], [old, "bench/tools/plain.mox"])
per_call = {name: [] for name in sides}
for _ in range(runs):
    for name, (traced, plain) in sides.items():
        per_call[name].append((cpu_once(traced) - cpu_once(plain)) / calls)
mt, pt = statistics.median(per_call["mox"]), statistics.median(per_call["python3"])
print("trace fib(15), per traced call: mox %.1f us, python3 %.1f us, mox/py %.2f"
      % (mt * 1e6, pt * 1e6, mt / pt))
if old:
    ot = statistics.median(per_call["old mox"])
    print("  old mox-run: %.1f us, mox/old %.2f" % (ot * 1e6, mt / ot))
# The same with the tracer's Mox bodies (no native body bound).
mb = (cpu([mox, "--mox-bodies", "bench/tools/trace.mox"])
      - cpu([mox, "--mox-bodies", "bench/tools/plain.mox"])) / calls
print("  with the Mox bodies: %.1f us, mox/py %.2f" % (mb * 1e6, mb / pt))

ms, ma = medians([mox, "bench/tools/sum.mox"])
ps, pa = medians(["python3", "bench/tools/sum.py"])
print("sum of 1e6 floats:     mox %.4fs python3 %.4fs mox/py %.2f" % (ms, ps, ms / ps))
print("average of 1e6 floats: mox %.4fs python3 %.4fs mox/py %.2f" % (ma, pa, ma / pa))
PY
