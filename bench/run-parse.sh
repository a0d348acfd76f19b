#!/usr/bin/env bash
# Times two PARSE grammars (comma-separated lines, a tokeniser) over a
# generated 10 MB text against Python's re doing the same work, in one run;
# prints the medians, checks that both found the same counts and prints the
# time ratios (mox / python; below 1 is better).
# Usage: bench/run-parse.sh [runs]
set -eu
cd "$(dirname "$0")/.."
runs="${1:-5}"
build="${MOX_BENCH_DIR:-build/bench}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF -DMOX_BENCH=ON >/dev/null
cmake --build "$build" --target parse_bench >/dev/null
text="$build/parse-text.csv"
[ -f "$text" ] || python3 bench/parse_text.py "$text"
mox=$("$build/parse_bench" "$text" "$runs")
py=$(python3 bench/parse_re.py "$text" "$runs")
echo "mox:";    echo "$mox"
echo "python:"; echo "$py"
python3 - "$mox" "$py" <<'PY'
import sys
mox = {l.split()[0]: l.split()[1:] for l in sys.argv[1].splitlines()}
py = {l.split()[0]: l.split()[1:] for l in sys.argv[2].splitlines()}
for name in mox:
    same = mox[name][1:] == py[name][1:]
    ratio = float(mox[name][0]) / float(py[name][0])
    print(f"{name}: time ratio mox/python {ratio:.2f}" + ("" if same else "   COUNTS DIFFER"))
PY
