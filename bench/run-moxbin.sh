#!/usr/bin/env bash
# Times the Moxbin codec against Python's pickle (protocol 5) and marshal on
# a million equal values, and the LZ bit coder against Python's zlib (levels
# 1 and 6) and lzma (preset 0) on a text corpus (the repository's sources)
# and a binary corpus (a built executable), in one run; prints the medians
# and the time ratios (mox / peer; below 1 is faster).
# Usage: bench/run-moxbin.sh
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build/moxbin-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF -DMOX_BENCH=ON >/dev/null
cmake --build build/moxbin-bench --target moxbin_bench >/dev/null
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cat README.md core/*.cpp core/*.h datatypes/*.cpp evaluator/*.cpp > "$dir/text"
cp build/moxbin-bench/moxbin_bench "$dir/binary"
build/moxbin-bench/moxbin_bench "$dir/text" "$dir/binary" > "$dir/mox.txt"
python3 bench/moxbin_peer.py "$dir/text" "$dir/binary" > "$dir/peer.txt"
python3 - "$dir/mox.txt" "$dir/peer.txt" <<'PY'
import sys
def load(p):
    return {(n, op): (float(ms), int(b)) for n, op, ms, b in (l.split() for l in open(p))}
mox, peer = load(sys.argv[1]), load(sys.argv[2])
for (name, op), (ms, size) in sorted(mox.items()):
    print("%-7s %-14s mox %10.3f ms  %10d bytes" % (name, op, ms, size))
    kind = op.split("-")[-1]
    for (pname, pop), (pms, psize) in sorted(peer.items()):
        if pname == name and pop.endswith("-" + kind) and (name == "values") == (op in ("encode", "decode")):
            print("        %-14s     %10.3f ms  %10d bytes   time ratio %.2f  size ratio %.3f"
                  % (pop, pms, psize, ms / pms, size / psize))
PY
