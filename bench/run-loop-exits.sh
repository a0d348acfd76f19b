#!/usr/bin/env bash
# Times non-local exits taken in hot loops (break, continue, return through a
# loop, throw caught by catch), a million of each, in Mox and the same work in
# Python 3, in one run. Each program runs five times; the medians and the
# ratios (mox / python; below 1 is better) are printed.
# Usage: bench/run-loop-exits.sh [count]
set -eu
cd "$(dirname "$0")/.."
n="${1:-1000000}"
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF -DMOX_BENCH=ON >/dev/null
cmake --build build/bench --target mox-run >/dev/null
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

cat >"$dir/break.mox" <<MOX
n: 0 loop $n [loop 10 [n: n + 1 if n > 0 [break]]]
MOX
cat >"$dir/break.py" <<PY
n = 0
for i in range($n):
    for j in range(10):
        n += 1
        if n > 0:
            break
PY
cat >"$dir/continue.mox" <<MOX
n: 0 loop $n [n: n + 1 if n > 0 [continue] n: 0]
MOX
cat >"$dir/continue.py" <<PY
n = 0
for i in range($n):
    n += 1
    if n > 0:
        continue
    n = 0
PY
cat >"$dir/return.mox" <<MOX
f: func [] [loop 10 [return 1]] loop $n [f]
MOX
cat >"$dir/return.py" <<PY
def f():
    for i in range(10):
        return 1
for i in range($n):
    f()
PY
cat >"$dir/throw.mox" <<MOX
loop $n [catch [throw 1]]
MOX
cat >"$dir/throw.py" <<PY
class Throw(Exception):
    pass
for i in range($n):
    try:
        raise Throw(1)
    except Throw:
        pass
PY

median() {  # the median of five runs of the command, in seconds
  for _ in 1 2 3 4 5; do
    /usr/bin/time -f "%e" "$@" 2>&1 >/dev/null | tail -1
  done | sort -n | sed -n 3p
}
for kind in break continue return throw; do
  m="$(median build/bench/mox-run "$dir/$kind.mox")"
  p="$(median python3 "$dir/$kind.py")"
  python3 -c "print(f'{\"$kind\":9} mox {$m:6.2f}s   python3 {$p:6.2f}s   ratio {$m/$p:5.2f}')"
done
