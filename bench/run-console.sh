#!/usr/bin/env bash
# Times the console engine through mox-run --console against python3 -i fed
# the same statements, in one run, and prints medians of 3 runs and the
# ratios (mox / python; below 1 is better):
#   lines   N statements (1 + 2, a definition, a three-line block)
#   paste   one block of P lines typed line by line (each line rescans the
#           pending input)
#   do      a generated script of about 5 MB run by do, against Python
#           running its equivalent
#   tab     complete-input of "pri" K times against rlcompleter
# Usage: bench/run-console.sh [N] [P] [K] [BUILD-DIR]
set -eu
cd "$(dirname "$0")/.."
n="${1:-10000}"
p="${2:-2000}"
k="${3:-2000}"
build="${4:-build/cons-bench}"
if [ ! -x "$build/mox-run" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target mox-run -j3 >/dev/null
fi
run="$PWD/$build/mox-run"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 - "$work" "$n" "$p" "$k" <<'PY'
import sys, os
work, n, p, k = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
m, y = [], []
for i in range(n):
    r = i % 3
    if r == 0:
        m.append("1 + 2"); y.append("1 + 2")
    elif r == 1:
        m.append("f%d: func [x][x * 2]" % (i % 100)); y.append("def f%d(x): return x * 2" % (i % 100)); y.append("")
    else:
        m += ["[", "%d" % i, "]"]; y += ["[", "%d" % i, "]"]
open(os.path.join(work, "lines.mox.in"), "w").write("\n".join(m) + "\n")
open(os.path.join(work, "lines.py.in"), "w").write("\n".join(y) + "\n")
open(os.path.join(work, "paste.mox.in"), "w").write("[\n" + "".join("%d\n" % i for i in range(p)) + "]\n")
open(os.path.join(work, "paste.py.in"), "w").write("[\n" + "".join("%d,\n" % i for i in range(p)) + "]\n")
ms, ps = ["Mox []\n", "total: 0\n"], ["total = 0\n"]
size, i = 0, 0
while size < 5_000_000:
    line_m = "v%d: %d + %d total: total + v%d\n" % (i % 1000, i, i, i % 1000)
    line_p = "v%d = %d + %d; total = total + v%d\n" % (i % 1000, i, i, i % 1000)
    ms.append(line_m); ps.append(line_p); size += len(line_m); i += 1
open(os.path.join(work, "big.mox"), "w").write("".join(ms))
open(os.path.join(work, "big.py"), "w").write("".join(ps))
open(os.path.join(work, "do.mox"), "w").write("do %big.mox\n")
open(os.path.join(work, "tab.mox"), "w").write(
    'loop %d [mox-complete-input tail "pri" true]\n' % k)
open(os.path.join(work, "tab.py"), "w").write(
    "import rlcompleter\nc = rlcompleter.Completer()\n"
    "for _ in range(%d):\n    s = 0\n    out = []\n"
    "    while True:\n        w = c.complete('pri', s)\n        if w is None: break\n"
    "        out.append(w); s += 1\n" % k)
PY

seconds() {  # median of 3 runs of the command, in seconds
  for _ in 1 2 3; do
    /usr/bin/time -f "%e" "$@" 2>&1 >/dev/null </dev/null | tail -1
  done | sort -n | sed -n 2p
}
seconds_in() {  # the same, with standard input from a file
  local input="$1"; shift
  for _ in 1 2 3; do
    /usr/bin/time -f "%e" "$@" <"$input" 2>&1 >/dev/null | tail -1
  done | sort -n | sed -n 2p
}
cd "$work"
ml=$(seconds_in lines.mox.in "$run" --console)
pl=$(seconds_in lines.py.in python3 -i -q)
mp=$(seconds_in paste.mox.in "$run" --console)
pp=$(seconds_in paste.py.in python3 -i -q)
md=$(seconds "$run" do.mox)
pd=$(seconds python3 big.py)
mt=$(seconds "$run" tab.mox)
pt=$(seconds python3 tab.py)
python3 - "$ml" "$pl" "$mp" "$pp" "$md" "$pd" "$mt" "$pt" "$n" "$p" "$k" <<'PY'
import sys
ml, pl, mp, pp, md, pd, mt, pt = map(float, sys.argv[1:9])
n, p, k = sys.argv[9:12]
for name, m, y in (("%s lines" % n, ml, pl), ("paste of %s lines" % p, mp, pp),
                   ("do of a 5 MB script", md, pd), ("complete-input pri x%s" % k, mt, pt)):
    print("%-26s mox %7.2fs   python3 %7.2fs   ratio %.2f" % (name, m, y, m / y if y else float("inf")))
PY
