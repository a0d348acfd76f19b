#!/usr/bin/env bash
# Times the JSON and CSV codecs against Python's json and csv modules (both
# run in C there) on a generated 20 MB JSON document and a 20 MB CSV file, in
# one run: load-json against json.loads, to-json against json.dumps
# (/pretty against indent=2), load-csv against list(csv.reader), to-csv
# against csv.writer. Prints the medians and the ratios (mox / python; below
# 1 is faster) for the native bodies and for the Mox sources (--mox-bodies).
# Usage: bench/run-json-csv.sh [RUNS]   (default 3; the Mox sources run once)
set -eu
cd "$(dirname "$0")/.."
runs=${1:-3}
cmake -S . -B build/json-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF >/dev/null
cmake --build build/json-bench --target mox-run >/dev/null
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
python3 bench/json_csv_gen.py "$dir"
ls -l "$dir" | awk 'NR > 1 { printf "%s %.1f MB\n", $9, $5 / 1e6 }'
python3 bench/json_csv_peer.py "$dir" "$runs" > "$dir/peer.txt"
MOX_BENCH_DIR=$dir MOX_BENCH_RUNS=$runs build/json-bench/mox-run bench/json-csv.mox > "$dir/native.txt"
MOX_BENCH_DIR=$dir MOX_BENCH_RUNS=1 build/json-bench/mox-run --mox-bodies bench/json-csv.mox > "$dir/source.txt"
python3 - "$dir" <<'PY'
import sys
d = sys.argv[1]
def load(name):
    return {k: float(v) for k, v in (l.split() for l in open(d + "/" + name) if l.strip())}
peer, native, source = load("peer.txt"), load("native.txt"), load("source.txt")
print("%-16s %12s %12s %8s %14s %8s" % ("", "python ms", "native ms", "ratio", "mox source ms", "ratio"))
for op, p in peer.items():
    print("%-16s %12.1f %12.1f %8.2f %14.1f %8.2f"
          % (op, p, native[op], native[op] / p, source[op], source[op] / p))
PY
