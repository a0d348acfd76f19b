#!/usr/bin/env bash
# Times CRC-32, deflate at the default level and inflate against Python's
# zlib (level 6) in one run, on a text corpus (the repository's sources and
# documents) and a binary corpus (a built executable), and prints the time
# ratios and the compressed-size ratio (mox / zlib; below 1 is better).
# Usage: bench/run-deflate.sh
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build/deflate-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF -DMOX_BENCH=ON >/dev/null
cmake --build build/deflate-bench --target deflate_bench >/dev/null
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cat README.md core/*.cpp core/*.h datatypes/*.cpp evaluator/*.cpp > "$dir/text"
cp build/deflate-bench/deflate_bench "$dir/binary"
build/deflate-bench/deflate_bench "$dir/text" "$dir/binary" > "$dir/mox.txt"
python3 bench/deflate_peer.py "$dir/text" "$dir/binary" > "$dir/zlib.txt"
python3 - "$dir/mox.txt" "$dir/zlib.txt" <<'PY'
import os, sys
def load(p):
    return {(os.path.basename(n), op): (float(ms), int(b)) for n, op, ms, b in (l.split() for l in open(p))}
mox, zl = load(sys.argv[1]), load(sys.argv[2])
for key in sorted(mox):
    (mt, mb), (zt, zb) = mox[key], zl[key]
    size = "   size %d vs %d (%.3f)" % (mb, zb, mb / zb) if key[1] == "deflate" else ""
    print("%-7s %-8s mox %9.3f ms  zlib %9.3f ms  time ratio %.2f%s" % (key + (mt, zt, mt / zt, size)))
PY
