#!/usr/bin/env bash
# Times the Moxbin codec against Python's pickle (protocol 5) and marshal on
# a million equal values, and the LZ bit coder against Python's zlib (levels
# 1 and 6) and lzma (preset 0) on a text corpus (the repository's sources)
# and a binary corpus (a built executable), in one run; prints the medians
# and the time ratios (mox / peer; below 1 is faster). Then the start-up:
# the boot sources loaded by the lexer against the boot image decoded (plain
# and LZ-compressed), in one process, and whole start-ups of mox-run from
# the embedded image and from a compressed one.
# Usage: bench/run-moxbin.sh
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build/moxbin-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF -DMOX_BENCH=ON >/dev/null
cmake --build build/moxbin-bench --target moxbin_bench mox-run make-boot-image >/dev/null
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

bench=build/moxbin-bench
$bench/make-boot-image . library/order.txt "$dir/lz.moxbin" "$dir/lz.cpp" --lz
printf '' > "$dir/empty.mox"
echo
$bench/moxbin_bench --boot . library/order.txt $bench/boot-image.moxbin | python3 -c '
import sys
rows = {op: (float(ms), int(b)) for _, op, ms, b in (l.split() for l in sys.stdin)}
text = rows["text-load"][0]
for op, (ms, size) in rows.items():
    print("boot    %-16s %10.3f ms  %10d bytes   time ratio to text-load %.2f" % (op, ms, size, ms / text))
'
python3 - "$bench/mox-run" "$dir" <<'PY'
import os, statistics, subprocess, sys, time
run, d = sys.argv[1], sys.argv[2]
ways = {"embedded image": [], "LZ-compressed image": ["--boot-image", d + "/lz.moxbin"]}
wall = {w: [] for w in ways}
cpu = {w: [] for w in ways}
# Interleaved, so that the machine's load falls on both alike.
for _ in range(101):
    for w, args in ways.items():
        t = time.perf_counter()
        p = subprocess.Popen([run] + args + [d + "/empty.mox"])
        _, status, usage = os.wait4(p.pid, 0)
        assert status == 0
        wall[w].append((time.perf_counter() - t) * 1000)
        cpu[w].append((usage.ru_utime + usage.ru_stime) * 1000)
base = statistics.median(wall["embedded image"])
for w in ways:
    m = statistics.median(wall[w])
    print("start-up mox-run, %-20s wall %8.3f ms  cpu %8.3f ms   wall ratio %.2f"
          % (w, m, statistics.median(cpu[w]), m / base))
PY
