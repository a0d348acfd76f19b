#!/usr/bin/env bash
# Percent-encoding and -decoding of 10 MB of text beside Python's
# urllib.parse, in one run: enhex of a string! (the strict table) against
# quote(text, safe=""), and dehex of that encoded text against unquote().
# The text mixes ASCII words and punctuation with Latin-1, other BMP and
# astral characters. Each side times only the call, in its own process (Mox
# with now/precise, Python with perf_counter); the outputs are compared
# once. Prints the median of the runs and the ratio of Mox's time to
# Python's.
#
# usage: bench/run-enhex.sh [RUNS] [--wine]
#   --wine runs the Windows build under Wine (Python runs natively).
#   BUILD=folder picks the build folder (default build/bench-enhex);
#   MOX_RUN=path times that mox-run (or mox-run.exe) without building.
set -eu
cd "$(dirname "$0")/.."
runs=${1:-5}
wine=${2:-}
if [ -n "${MOX_RUN:-}" ]; then
  runner="$MOX_RUN"
  [ "$wine" = --wine ] && runner="scripts/wine-run $MOX_RUN"
elif [ "$wine" = --wine ]; then
  build=${BUILD:-build/bench-enhex-win64}
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
  cmake --build "$build" --target mox-run -j 3 >/dev/null
  runner="scripts/wine-run $build/mox-run.exe"
else
  build=${BUILD:-build/bench-enhex}
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF >/dev/null
  cmake --build "$build" --target mox-run -j 3 >/dev/null
  runner="$build/mox-run"
fi
python3 - "$runs" "$wine" $runner <<'PY'
import os, random, shutil, statistics, subprocess, sys, tempfile
from urllib.parse import quote, unquote
runs, wine, runner = int(sys.argv[1]), sys.argv[2] == "--wine", sys.argv[3:]
SIZE = 10 * 1000 * 1000
folder = tempfile.mkdtemp(prefix="mox-enhex-bench-")
def path(name): return os.path.join(folder, name)
def mox_path(name): return ("%/Z" if wine else "%") + path(name)
def script_path(name): return ("Z:" + path(name).replace("/", "\\")) if wine else path(name)

rng = random.Random(14)
words = ["alpha", "beta", "gamma", "délta", "zêta", "path/to", "a+b=c", "50%", "中文", "€uro",
         "x&y", "[tag]", "😀"]
pieces, total = [], 0
while total < SIZE:
    w = rng.choice(words)
    pieces.append(w)
    total += len(w.encode("utf-8")) + 1
text = " ".join(pieces)
encoded = quote(text, safe="")
with open(path("text.txt"), "w", encoding="utf-8", newline="") as f:
    f.write(text)
with open(path("encoded.txt"), "w", encoding="utf-8", newline="") as f:
    f.write(encoded)

MOX = {
 "enhex": f"s: read {mox_path('text.txt')} t: now/precise x: enhex s print difference now/precise t",
 "dehex": f"s: read {mox_path('encoded.txt')} t: now/precise x: dehex s print difference now/precise t",
}
PY_CODE = {
 "enhex": "s=open(P+'text.txt',encoding='utf-8',newline='').read(); t=time.perf_counter(); x=quote(s,safe=''); print(time.perf_counter()-t)",
 "dehex": "s=open(P+'encoded.txt',encoding='utf-8',newline='').read(); t=time.perf_counter(); x=unquote(s); print(time.perf_counter()-t)",
}
CHECK = (f"write/binary {mox_path('mox-enhex.txt')} to binary! enhex read {mox_path('text.txt')} "
         f"write/binary {mox_path('mox-dehex.txt')} to binary! dehex read {mox_path('encoded.txt')}")
def seconds(out):
    h, m, s = out.strip().splitlines()[-1].split(":")
    return int(h) * 3600 + int(m) * 60 + float(s)
def run_mox(code):
    with open(path("bench.mox"), "w", encoding="utf-8") as f:
        f.write(code)
    return subprocess.run(runner + [script_path("bench.mox")], capture_output=True, text=True,
                          check=True).stdout
def py_time(code):
    prog = f"import time\nfrom urllib.parse import quote, unquote\nP={folder + '/'!r}\n{code}\n"
    out = subprocess.run([sys.executable, "-c", prog], capture_output=True, text=True, check=True)
    return float(out.stdout.strip())
try:
    run_mox(CHECK)
    with open(path("mox-enhex.txt"), encoding="utf-8", newline="") as f:
        assert f.read() == encoded, "enhex differs from quote()"
    with open(path("mox-dehex.txt"), encoding="utf-8", newline="") as f:
        assert f.read() == text, "dehex differs from unquote()"
    print("%-8s%10s%10s%10s  (%s, %.1f MB of text, median of %d)" % (
          "call", "mox s", "python s", "mox/py", "Wine" if wine else "native",
          len(text.encode("utf-8")) / 1e6, runs))
    for op in MOX:
        tm = statistics.median(seconds(run_mox(MOX[op])) for _ in range(runs))
        tp = statistics.median(py_time(PY_CODE[op]) for _ in range(runs))
        print("%-8s%10.3f%10.3f%10.2f" % (op, tm, tp, tm / tp))
finally:
    shutil.rmtree(folder, ignore_errors=True)
PY
