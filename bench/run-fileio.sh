#!/usr/bin/env bash
# Reading and writing a 100 MB file beside Python, in one run: binary read
# and write against open(..., "rb").read() / open(..., "wb").write(), and
# UTF-8 text with CR LF line ends against open().read() and open(...,
# newline="\r\n").write(). Each side times only the file operation, in its
# own process (Mox with now/precise, Python with perf_counter). Prints the
# median of the runs and the ratio of Mox's time to Python's.
#
# usage: bench/run-fileio.sh [RUNS] [--wine]
#   --wine runs the Windows build under Wine (Python runs natively).
set -eu
cd "$(dirname "$0")/.."
runs=${1:-5}
wine=${2:-}
if [ "$wine" = --wine ]; then
  build=build/bench-fileio-win64
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
  cmake --build "$build" --target mox-run -j 3 >/dev/null
  runner="scripts/wine-run $build/mox-run.exe"
else
  build=build/bench-fileio
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF >/dev/null
  cmake --build "$build" --target mox-run -j 3 >/dev/null
  runner="$build/mox-run"
fi
python3 - "$runs" "$wine" $runner <<'PY'
import os, random, re, shutil, statistics, subprocess, sys, tempfile, time
runs, wine, runner = int(sys.argv[1]), sys.argv[2] == "--wine", sys.argv[3:]
SIZE = 100 * 1000 * 1000
folder = tempfile.mkdtemp(prefix="mox-fileio-bench-")
def path(name): return os.path.join(folder, name)
def mox_path(name): return ("%/Z" if wine else "%") + path(name)
def script_path(name): return ("Z:" + path(name).replace("/", "\\")) if wine else path(name)

rng = random.Random(1)
with open(path("data.bin"), "wb") as f:
    f.write(rng.randbytes(SIZE))
words = ["alpha", "beta", "gamma", "délta", "epsilon", "zêta", "eta", "theta"]
line_list = []
total = 0
while total < SIZE:
    line = " ".join(rng.choice(words) for _ in range(8))
    line_list.append(line)
    total += len(line.encode("utf-8")) + 2
text_lf = "\n".join(line_list) + "\n"
with open(path("text-crlf.txt"), "w", encoding="utf-8", newline="\r\n") as f:
    f.write(text_lf)
with open(path("text-lf.txt"), "w", encoding="utf-8", newline="") as f:
    f.write(text_lf)

MOX = {
 "binary read": f"s: now/precise x: read/binary {mox_path('data.bin')} print difference now/precise s",
 "binary write": f"x: read/binary {mox_path('data.bin')} s: now/precise write/binary {mox_path('out.bin')} x print difference now/precise s",
 "text read": f"s: now/precise x: read {mox_path('text-crlf.txt')} print difference now/precise s",
 "text write": f"x: read {mox_path('text-lf.txt')} s: now/precise write {mox_path('out.txt')} x print difference now/precise s",
}
PY_CODE = {
 "binary read": "s=time.perf_counter(); x=open(P['data.bin'],'rb').read(); print(time.perf_counter()-s)",
 "binary write": "x=open(P['data.bin'],'rb').read(); s=time.perf_counter(); f=open(P['out.bin'],'wb'); f.write(x); f.close(); print(time.perf_counter()-s)",
 "text read": "s=time.perf_counter(); x=open(P['text-crlf.txt'],encoding='utf-8').read(); print(time.perf_counter()-s)",
 "text write": "x=open(P['text-lf.txt'],encoding='utf-8',newline='').read(); s=time.perf_counter(); f=open(P['out.txt'],'w',encoding='utf-8',newline='\\r\\n'); f.write(x); f.close(); print(time.perf_counter()-s)",
}
def seconds(text):
    h, m, s = text.strip().split(":")
    return int(h) * 3600 + int(m) * 60 + float(s)
def mox_time(code):
    with open(path("bench.mox"), "w", encoding="utf-8") as f:
        f.write(code)
    out = subprocess.run(runner + [script_path("bench.mox")], capture_output=True, text=True, check=True)
    return seconds(out.stdout.strip().splitlines()[-1])
def py_time(code):
    prog = f"import time\nP={{n: {folder!r} + '/' + n for n in ['data.bin','out.bin','text-crlf.txt','text-lf.txt','out.txt']}}\n{code}\n"
    out = subprocess.run([sys.executable, "-c", prog], capture_output=True, text=True, check=True)
    return float(out.stdout.strip())
try:
    print("%-14s%10s%10s%10s  (%s, median of %d)" % ("operation", "mox s", "python s", "mox/py",
          "Wine" if wine else "native", runs))
    for op in MOX:
        tm = statistics.median(mox_time(MOX[op]) for _ in range(runs))
        tp = statistics.median(py_time(PY_CODE[op]) for _ in range(runs))
        print("%-14s%10.3f%10.3f%10.2f" % (op, tm, tp, tm / tp))
    with open(path("out.txt"), "rb") as a, open(path("text-crlf.txt"), "rb") as b:
        assert a.read() == b.read(), "text written differs from Python's"
finally:
    shutil.rmtree(folder, ignore_errors=True)
PY
