#!/usr/bin/env bash
# Times the set natives (union, intersect, exclude, unique, difference) on
# blocks of integers and on strings of distinct characters, n values per
# set, in Mox and the same work in Python 3 (order-keeping dict and set
# operations), in one run. Each program runs five times; the medians and the
# ratios (mox / python; below 1 is better) are printed.
# Usage: bench/run-set-ops.sh [n] [rounds]   (MOX_RUN=path times another mox-run)
set -eu
cd "$(dirname "$0")/.."
n="${1:-20000}"
rounds="${2:-20}"
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF -DMOX_BENCH=ON >/dev/null
cmake --build build/bench --target mox-run >/dev/null
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

cat >"$dir/blocks.mox" <<MOX
b1: copy [] b2: copy []
repeat i $n [append b1 i append b2 i + ($n / 2)]
loop $rounds [union b1 b2 intersect b1 b2 exclude b1 b2 unique b1 difference b1 b2]
MOX
cat >"$dir/blocks.py" <<PY
b1 = []; b2 = []
for i in range(1, $n + 1):
    b1.append(i); b2.append(i + $n // 2)
for r in range($rounds):
    list(dict.fromkeys(b1 + b2))
    s2 = set(b2); list(dict.fromkeys(x for x in b1 if x in s2))
    list(dict.fromkeys(x for x in b1 if x not in s2))
    list(dict.fromkeys(b1))
    s1 = set(b1); list(dict.fromkeys([x for x in b1 if x not in s2] + [x for x in b2 if x not in s1]))
PY
cat >"$dir/strings.mox" <<MOX
s1: copy "" s2: copy ""
repeat i $n [append s1 to char! i + 32 append s2 to char! i + 32 + ($n / 2)]
loop $rounds [union s1 s2 intersect s1 s2 exclude s1 s2 unique s1 difference s1 s2]
MOX
cat >"$dir/strings.py" <<PY
s1 = ''.join(chr(i + 32) for i in range(1, $n + 1))
s2 = ''.join(chr(i + 32 + $n // 2) for i in range(1, $n + 1))
for r in range($rounds):
    ''.join(dict.fromkeys(s1 + s2))
    k2 = set(s2); ''.join(dict.fromkeys(c for c in s1 if c in k2))
    ''.join(dict.fromkeys(c for c in s1 if c not in k2))
    ''.join(dict.fromkeys(s1))
    k1 = set(s1); ''.join(dict.fromkeys([c for c in s1 if c not in k2] + [c for c in s2 if c not in k1]))
PY

median() {  # the median of five runs of the command, in seconds
  for _ in 1 2 3 4 5; do
    /usr/bin/time -f "%e" "$@" 2>&1 >/dev/null | tail -1
  done | sort -n | sed -n 3p
}
for kind in blocks strings; do
  m="$(median ${MOX_RUN:-build/bench/mox-run} "$dir/$kind.mox")"
  p="$(median python3 "$dir/$kind.py")"
  python3 -c "print(f'{\"$kind\":8} mox {$m:6.2f}s   python3 {$p:6.2f}s   ratio {$m/$p:5.2f}')"
done
