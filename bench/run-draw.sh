#!/usr/bin/env bash
# The draw dialect under Wine against the same Direct2D calls made by a
# small C++ program (bench/draw_floor.cpp), and Tk's canvas, in one run:
# SHAPES filled and stroked boxes, circles, lines and triangles in turn into
# an 800x600 image. The Mox side times only `draw` (now/precise), the floor
# its drawing (QueryPerformanceCounter), Tk its item creation and `update`.
# Prints medians of RUNS runs and the ratio of the dialect to the floor.
#
# usage: bench/run-draw.sh [RUNS] [SHAPES]
set -eu
cd "$(dirname "$0")/.."
runs=${1:-5}
shapes=${2:-10000}
win=${WIN_BUILD:-build/d2d-win64}
cmake -S . -B "$win" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null 2>&1
cmake --build "$win" --target mox-run -j 3 >/dev/null
x86_64-w64-mingw32-g++-posix -O2 -std=c++20 bench/draw_floor.cpp -o "$win/draw_floor.exe" \
  -static -ld2d1 -lwindowscodecs -lole32 -luuid
python3 - "$runs" "$shapes" "$win" <<'PY'
import os, statistics, subprocess, sys, tempfile, time
runs, shapes, win = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
WINE = ["scripts/wine-run"]
folder = tempfile.mkdtemp(prefix="mox-draw-bench-")

cmds = ["pen 0.0.0 fill-pen 255.0.0"]
for i in range(shapes):
    x, y = (i * 37) % 760, (i * 53) % 560
    k = i % 4
    if k == 0:
        cmds.append("box %dx%d %dx%d" % (x, y, x + 30, y + 30))
    elif k == 1:
        cmds.append("circle %dx%d 15" % (x + 15, y + 15))
    elif k == 2:
        cmds.append("line %dx%d %dx%d" % (x, y, x + 40, y + 30))
    else:
        cmds.append("triangle %dx%d %dx%d %dx%d" % (x, y + 30, x + 15, y, x + 30, y + 30))
script = os.path.join(folder, "draw.mox")
with open(script, "w") as f:
    f.write("blk: [\n%s\n]\nimg: make image! 800x600\n" % "\n".join(cmds))
    f.write("t0: now/precise/utc draw img blk print difference now/precise/utc t0\n")

def seconds(out):
    h, m, s = out.strip().splitlines()[-1].split(":")
    return int(h) * 3600 + int(m) * 60 + float(s)

def mox():
    out = subprocess.run(WINE + [win + "/mox-run.exe", "Z:" + script.replace("/", "\\")],
                         capture_output=True, text=True, check=True).stdout
    return seconds(out)

def floor():
    out = subprocess.run(WINE + [win + "/draw_floor.exe", str(shapes)], capture_output=True,
                         text=True, check=True).stdout
    return float(out.strip().splitlines()[-1]) / 1000

TK = r"""
import sys, time, tkinter
n = int(sys.argv[1])
root = tkinter.Tk()
c = tkinter.Canvas(root, width=800, height=600, background="white")
c.pack()
root.update()
t0 = time.perf_counter()
for i in range(n):
    x, y = (i * 37) % 760, (i * 53) % 560
    k = i % 4
    if k == 0: c.create_rectangle(x, y, x + 30, y + 30, fill="red", outline="black")
    elif k == 1: c.create_oval(x, y, x + 30, y + 30, fill="red", outline="black")
    elif k == 2: c.create_line(x, y, x + 40, y + 30, fill="black")
    else: c.create_polygon(x, y + 30, x + 15, y, x + 30, y + 30, fill="red", outline="black")
root.update()
print(time.perf_counter() - t0)
"""

def tk():
    out = subprocess.run([sys.executable, "-c", TK, str(shapes)], capture_output=True, text=True,
                         check=True).stdout
    return float(out.strip().splitlines()[-1])

m, f, t = [], [], []
for _ in range(runs):
    m.append(mox())
    f.append(floor())
    try:
        t.append(tk())
    except (subprocess.CalledProcessError, OSError):
        pass
mm, fm = statistics.median(m), statistics.median(f)
print("%d shapes into 800x600, medians of %d runs" % (shapes, runs))
print("draw dialect (Wine):   %.3f s" % mm)
print("Direct2D floor (Wine): %.3f s" % fm)
print("ratio dialect/floor:   %.2f" % (mm / fm))
if t:
    print("Tk canvas (native X):  %.3f s" % statistics.median(t))
PY
