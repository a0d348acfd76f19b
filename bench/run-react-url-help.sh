#!/usr/bin/env bash
# Times the URL parser, the help views and reactive propagation against
# Python in one run: parse-url of 100,000 distinct URLs against urlsplit
# plus unquote; help-string append (x200), help-string system (x20) and
# what/with/spec/buffer "pri" (x200) against pydoc.render_doc of
# list.append and of str and a scan of the names and docstrings of
# builtins; one reactor field set 100,000 times with 10, 100 and 1,000
# relations in the table against the same flat-table algorithm in Python.
# Prints the medians and the ratios (mox / python; below 1 is faster).
# Usage: bench/run-react-url-help.sh [RUNS]   (default 3)
set -eu
cd "$(dirname "$0")/.."
runs=${1:-3}
cmake -S . -B build/react-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF >/dev/null
cmake --build build/react-bench --target mox-run -j3 >/dev/null
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
python3 bench/react_url_help_peer.py gen "$dir"
python3 bench/react_url_help_peer.py run "$dir" "$runs" > "$dir/peer.txt"
MOX_BENCH_DIR=$dir MOX_BENCH_RUNS=$runs build/react-bench/mox-run bench/react-url-help.mox > "$dir/mox.txt"
python3 - "$dir" <<'PY'
import sys
d = sys.argv[1]
def load(name):
    return {k: float(v) for k, v in (l.split() for l in open(d + "/" + name) if l.strip())}
peer, mox = load("peer.txt"), load("mox.txt")
print("%-14s %12s %12s %8s" % ("", "python ms", "mox ms", "ratio"))
for op, p in peer.items():
    print("%-14s %12.1f %12.1f %8.2f" % (op, p, mox[op], mox[op] / p))
PY
