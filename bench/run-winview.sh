#!/usr/bin/env bash
# Times the Windows view back end under Wine against its peers, in one run:
#   events: n made down events sent with send-event to a base face's on-down
#           actor (send-event-os, the pre-filter, awake, the actor), against
#           n event_generate button presses delivered to a bound callback
#           on a Tk frame (Python's tkinter natively on a virtual display);
#   view:   view/no-wait of a window of m buttons, one update-view of a block
#           of all m faces each moved by 1 unit, unview (and its messages
#           drained), against bench/winview_floor.cpp making the same Win32
#           calls in C++ (cross-built, run under Wine).
# Each side times itself inside the program (the start of Wine is left
# out); every figure is the median of three runs, printed with the ratios
# (mox / peer; below 1 is better).
# Usage: bench/run-winview.sh [n] [m]
set -eu
cd "$(dirname "$0")/.."
n="${1:-100000}"
m="${2:-1000}"
if ! python3 -c "import tkinter" 2>/dev/null; then
  sudo apt-get install -y python3-tk >/dev/null
fi
for tool in xvfb-run wine x86_64-w64-mingw32-g++-posix python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done
mox_run="${MOX_RUN:-build/bench-win64/mox-run.exe}"
if [ -z "${MOX_RUN:-}" ]; then
  cmake -S . -B build/bench-win64 -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
  cmake --build build/bench-win64 --target mox-run >/dev/null
fi
# A prefix of its own: no other program's wineserver shares the work.
export WINEPREFIX="${WINEPREFIX:-$PWD/build/bench-win64/wineprefix}"
mkdir -p "$(dirname "$WINEPREFIX")"
bash scripts/wine-prefix "$WINEPREFIX" >/dev/null 2>&1
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
x86_64-w64-mingw32-g++-posix -O2 -municode -static bench/winview_floor.cpp \
  -o "$dir/winview-floor.exe" -lcomctl32 -lgdi32

cat >"$dir/events.mox" <<MOX
hits: 0
b: make face! [type: 'base offset: 10x10 size: 100x100
	actors: make object! [on-down: func [f e][hits: hits + 1 'done]]]
win: make face! [type: 'window text: "bench" offset: 0x0 size: 200x150 pane: reduce [b]]
view/no-wait win
while [do-events/no-wait][]
ev: make event! compose [type: 'down face: (b) offset: 5x5]
t: to float! dt [loop $n [send-event ev]]
if hits <> $n [print "lost events" quit/return 1]
print ["events" t]
MOX
cat >"$dir/events.py" <<PY
import time
import tkinter as tk
root = tk.Tk()
frame = tk.Frame(root, width=100, height=100); frame.pack()
hits = 0
def on_down(event):
    global hits
    hits += 1
    return "break"
frame.bind("<ButtonPress-1>", on_down)
root.update()
t = time.perf_counter()
for _ in range($n):
    frame.event_generate("<ButtonPress-1>", x=5, y=5)
t = time.perf_counter() - t
assert hits == $n
print("events", t)
root.destroy()
PY
cat >"$dir/view.mox" <<MOX
faces: make block! $m
; The floor's grid: whole rows (a fractional row would overlap the buttons,
; and overlapping siblings make every clip region costly).
repeat i $m [
	append faces make face! [type: 'button text: "b" size: 18x18
		offset: as-pair (i - 1 // 40) * 20 (to integer! i - 1 / 40) * 20]
]
win: make face! [type: 'window text: "bench" offset: 10x10 size: 800x600 pane: faces]
t1: to float! dt [view/no-wait win while [do-events/no-wait][]]
system/view/auto-sync?: false
foreach f faces [f/offset: f/offset + 1x0]
t2: to float! dt [system/view/platform/update-view faces while [do-events/no-wait][]]
t3: to float! dt [unview while [system/view/platform/do-event-loop true][]]
print ["view" t1 "update" t2 "unview" t3]
MOX

run_xvfb() { xvfb-run -a -s "-screen 0 1024x768x24" "$@" 2>/dev/null; }
median() { sort -g | sed -n 2p; }
field() {  # the number after a word in the lines of three runs
  grep -o "$1 [0-9.e+-]*" | awk '{print $2}' | median
}

mox_events=""; tk_events=""; mox_view=""; floor_view=""
for _ in 1 2 3; do
  mox_events+="$(run_xvfb wine "$mox_run" "$dir/events.mox")"$'\n'
  tk_events+="$(run_xvfb python3 "$dir/events.py")"$'\n'
  mox_view+="$(run_xvfb wine "$mox_run" "$dir/view.mox")"$'\n'
  floor_view+="$(run_xvfb wine "$dir/winview-floor.exe" "$m")"$'\n'
done
me="$(echo "$mox_events" | field events)"
te="$(echo "$tk_events" | field events)"
python3 -c "print(f'events  mox {$me:7.3f}s ({$me/$n*1e6:6.1f} us each)   tk {$te:7.3f}s ({$te/$n*1e6:6.1f} us each)   ratio {$me/$te:5.2f}')"
for phase in view update unview; do
  mv="$(echo "$mox_view" | field "$phase")"
  fv="$(echo "$floor_view" | field "$phase")"
  python3 -c "print(f'{\"$phase\":7} mox {$mv:7.3f}s   C++ {$fv:7.3f}s   ratio {$mv/max($fv, 1e-6):5.2f}   ($m faces)')"
done
