#!/usr/bin/env bash
# Times load and save of a generated data file of 20 MB (records of
# integers, floats, strings, logic values and nested blocks), against
# Python 3's json.load and json.dump of the same records written as JSON, in
# one run; and load against a bare transcode of the file's bytes (read the
# same way). Each program times every operation `runs` times in process and
# prints the medians in seconds with a check value; the ratios follow
# (below 1 means Mox is faster).
# Usage: bench/run-load-save.sh [runs]   (MOX_RUN=path times another mox-run)
set -eu
cd "$(dirname "$0")/.."
runs="${1:-5}"
build="${MOX_BENCH_DIR:-build/libc-bench}"
mox_run="${MOX_RUN:-$build/mox-run}"
if [ -z "${MOX_RUN:-}" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF -DMOX_BENCH=ON >/dev/null
  cmake --build "$build" --target mox-run -j3 >/dev/null
fi
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

# The same records in both notations.
python3 - "$dir" <<'PY'
import json, random, sys
d = sys.argv[1]
rnd = random.Random(7)
def mox(v):
    if isinstance(v, bool): return "true" if v else "false"
    if isinstance(v, (int, float)): return repr(v)
    if isinstance(v, str): return '"' + v + '"'
    if isinstance(v, list): return "[" + " ".join(mox(x) for x in v) + "]"
    return "[" + " ".join("%s %s" % (k, mox(x)) for k, x in v.items()) + "]"
records = []
size = 0
while size < 20_000_000:
    r = {"id": len(records) + 1, "name": "user-%06d" % len(records),
         "score": round(rnd.uniform(-1000, 1000), 3), "active": rnd.random() < 0.5,
         "tags": ["t%d" % rnd.randrange(100) for _ in range(rnd.randrange(4))],
         "point": [rnd.randrange(10000), rnd.randrange(10000)]}
    records.append(r)
    size += len(mox(r)) + 1
with open(d + "/data.json", "w") as f:
    json.dump(records, f)
with open(d + "/data.mox", "w") as f:
    f.write("\n".join(mox(r) for r in records))
PY

cat >"$dir/load-save.mox" <<MOX
seconds: func [t0] [to float! difference now/precise t0]
median: func [times] [pick sort times (length? times) + 1 / 2]
time: func [name code /local times t0 check] [
    times: copy []
    loop $runs [
        recycle
        t0: now/precise
        check: do code
        append times seconds t0
    ]
    print [name median times check]
]
time "load" [length? data: load %$dir/data.mox]
time "transcode" [length? transcode read/binary %$dir/data.mox]
time "save" [save %$dir/out.mox data size? %$dir/out.mox]
MOX

cat >"$dir/load-save.py" <<PY
import json, os, time
def median(t): return sorted(t)[len(t) // 2]
def timed(name, code):
    times = []
    for _ in range($runs):
        t0 = time.perf_counter(); check = code(); times.append(time.perf_counter() - t0)
    print(name, median(times), check)
data = None
def load():
    global data
    with open("$dir/data.json") as f: data = json.load(f)
    return len(data)
def dump():
    with open("$dir/out.json", "w") as f: json.dump(data, f)
    return os.path.getsize("$dir/out.json")
timed("json.load", load)
timed("json.dump", dump)
PY

echo "data: $(stat -c %s "$dir/data.mox") bytes of Mox text, $(stat -c %s "$dir/data.json") bytes of JSON"
mox_out="$("$mox_run" "$dir/load-save.mox")"
py_out="$(python3 "$dir/load-save.py")"
echo "$mox_out"
echo "$py_out"
python3 - "$mox_out" "$py_out" <<'PY'
import sys
t = {}
for line in (sys.argv[1] + "\n" + sys.argv[2]).splitlines():
    name, secs = line.split()[:2]
    t[name] = float(secs)
print("load / transcode   %.2f" % (t["load"] / t["transcode"]))
print("load / json.load   %.2f" % (t["load"] / t["json.load"]))
print("save / json.dump   %.2f" % (t["save"] / t["json.dump"]))
PY
