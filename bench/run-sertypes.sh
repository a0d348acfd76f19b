#!/usr/bin/env bash
# Times the series datatypes against Python 3 in one run: base-64 enbase and
# debase of 10 MB (Python's base64), a million map! puts and selects of
# string keys (a dict in a Python loop), and v * 3 + 1 in place on 10 million
# integers (a plain C++ loop; Python's array comprehension reported too).
# Prints the medians and the ratios (mox / peer; below 1 is better).
# Usage: bench/run-sertypes.sh [runs]
set -eu
cd "$(dirname "$0")/.."
runs="${1:-5}"
build="${MOX_BENCH_DIR:-build/bench}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF -DMOX_BENCH=ON >/dev/null
cmake --build "$build" --target sertypes_bench >/dev/null
mox=$("$build/sertypes_bench" "$runs")
py=$(python3 bench/sertypes_peer.py "$runs")
echo "$mox"
echo "$py"
python3 - "$mox" "$py" <<'PY'
import sys
t = {}
for line in (sys.argv[1] + "\n" + sys.argv[2]).splitlines():
    name, *rest = line.split()
    t.setdefault(name, []).append(rest)
def s(name):
    return float(t[name][0][0])
if t["base64-check"][0][0] != t["base64-check"][1][0] or t["map-check"][0] != t["map-check"][1]:
    print("CHECKS DIFFER")
rows = [
    ("enbase 10 MB (mox enbase / python b64encode)", s("base64-mox-enbase"), s("base64-python-encode")),
    ("debase 10 MB (mox debase / python b64decode)", s("base64-mox-debase"), s("base64-python-decode")),
    ("encoder routine / python b64encode", s("base64-routine-encode"), s("base64-python-encode")),
    ("decoder routine / python b64decode", s("base64-routine-decode"), s("base64-python-decode")),
    ("map! 1M put / dict", s("map-mox-put"), s("map-python-put")),
    ("map! 1M select / dict", s("map-mox-select"), s("map-python-select")),
    ("v * 3 + 1, 10M, mox / C++ loop", s("vector-mox"), s("vector-cpp-loop")),
    ("v * 3 + 1, 10M, routine / C++ loop", s("vector-routine"), s("vector-cpp-loop")),
    ("v * 3 + 1, 10M, mox / python array", s("vector-mox"), s("vector-python-array")),
]
for name, a, b in rows:
    print(f"{name:48} {a:8.4f}s {b:8.4f}s  ratio {a / b:6.2f}")
PY
