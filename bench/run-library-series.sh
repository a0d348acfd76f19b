#!/usr/bin/env bash
# Times the series library functions split, replace/all, rejoin, pad,
# extract and collect over a 10 MB text and million-value blocks, from Mox
# code by mox-run, against the same work in Python 3 (str.split,
# str.replace, ''.join, str.ljust, slicing, a list-building loop), in one
# run. Each program times every operation `runs` times in process (the data
# is built once, outside the timing) and prints the medians with a check
# value; the ratios (mox / python; below 1 is better) and their geometric
# mean follow.
# Usage: bench/run-library-series.sh [runs]   (MOX_RUN=path times another
# mox-run; MOX_MOX_BODIES=1 times the Mox bodies)
set -eu
cd "$(dirname "$0")/.."
runs="${1:-5}"
build="${MOX_BENCH_DIR:-build/libb-bench}"
if [ -z "${MOX_RUN:-}" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF -DMOX_BENCH=ON >/dev/null
  cmake --build "$build" --target mox-run -j3 >/dev/null
fi
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

cat >"$dir/series.mox" <<MOX
words: "lorem ipsum dolor sit amet consectetur adipiscing elit sed do "
text: make string! 10000000
append/dup text words to integer! 10000000 / length? words
block: make block! 1000000
repeat i 1000000 [append block pick ["ab" "cde" "f" "ghij"] i // 4 + 1]
numbers: make block! 1000000
repeat i 1000000 [append numbers i]
seconds: func [t0] [to float! difference now/precise t0]
median: func [times] [pick sort times (length? times) + 1 / 2]
time: func [name code /local times t0 check] [
    times: copy []
    loop $runs [
        recycle
        t0: now/precise
        check: do code
        append times seconds t0
    ]
    print [name median times check]
]
time "split" [length? split text " "]
time "replace/all" [length? replace/all copy text " " ", "]
time "rejoin" [length? rejoin block]
time "pad" [foreach s block [pad copy s 12] length? block]
time "extract" [length? extract numbers 2]
time "extract-text" [length? extract text 3]
time "collect" [length? collect [foreach x numbers [keep x]]]
MOX

cat >"$dir/series.py" <<PY
import time
words = "lorem ipsum dolor sit amet consectetur adipiscing elit sed do "
text = words * (10000000 // len(words))
block = [["ab", "cde", "f", "ghij"][i % 4] for i in range(1, 1000001)]
numbers = list(range(1, 1000001))

def collect(data):
    out = []
    for x in data:
        out.append(x)
    return out

def pad(data):
    for s in data:
        s.ljust(12)
    return len(data)

def timed(name, code):
    times = []
    for _ in range($runs):
        t0 = time.perf_counter()
        check = code()
        times.append(time.perf_counter() - t0)
    print(name, sorted(times)[len(times) // 2], check)

timed("split", lambda: len(text.split(" ")))
timed("replace/all", lambda: len(text.replace(" ", ", ")))
timed("rejoin", lambda: len("".join(block)))
timed("pad", lambda: pad(list(block)))
timed("extract", lambda: len(numbers[::2]))
timed("extract-text", lambda: len(text[::3]))
timed("collect", lambda: len(collect(numbers)))
PY

mox=$(${MOX_RUN:-$build/mox-run} "$dir/series.mox")
py=$(python3 "$dir/series.py")
python3 - "$mox" "$py" <<'PY'
import math, sys
mox = {l.split()[0]: l.split()[1:] for l in sys.argv[1].splitlines() if l.strip()}
py = {l.split()[0]: l.split()[1:] for l in sys.argv[2].splitlines() if l.strip()}
ratios = []
for name, (m, mcheck) in mox.items():
    p, pcheck = py[name]
    ratio = float(m) / float(p)
    ratios.append(ratio)
    note = "" if mcheck == pcheck else f"   CHECKS DIFFER ({mcheck} / {pcheck})"
    print(f"{name:13} mox {float(m):8.4f}s   python3 {float(p):8.4f}s   ratio {ratio:7.2f}{note}")
print(f"geometric mean of the ratios: {math.exp(sum(map(math.log, ratios)) / len(ratios)):.2f}")
PY
