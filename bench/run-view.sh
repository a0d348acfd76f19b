#!/usr/bin/env bash
# Times the View engine's dispatch and face updates on the null back end
# against Python's tkinter on a virtual X display, in one run:
#   events: n synthetic key events sent with send-event to a field in a
#           panel in a window (through awake, the built-in event functions
#           and the field's on-key actor), against as many event_generate
#           virtual events delivered to a callback on an Entry in a Frame in
#           a Tk window;
#   text:   n sets of a realised text face's text (change bit, show,
#           update-view), against n configure(text=...) on a Label.
# Each side runs with n and with 0 (the set-up alone) three times; the
# medians of the differences and the ratios (mox / tk; below 1 is better)
# are printed. With MOX_WINE=1 the win64 mox-run.exe (MOX_RUN, default
# build/bench-win64/mox-run.exe) runs under Wine instead.
# Usage: bench/run-view.sh [n]
set -eu
cd "$(dirname "$0")/.."
n="${1:-100000}"
if ! python3 -c "import tkinter" 2>/dev/null; then
  sudo apt-get install -y python3-tk >/dev/null
fi
if ! command -v xvfb-run >/dev/null; then
  sudo apt-get install -y xvfb >/dev/null
fi
if [ "${MOX_WINE:-0}" = 1 ]; then
  mox_run="${MOX_RUN:-build/bench-win64/mox-run.exe}"
  if [ -z "${MOX_RUN:-}" ]; then
    cmake -S . -B build/bench-win64 -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
    cmake --build build/bench-win64 --target mox-run >/dev/null
  fi
  runner=(wine "$mox_run")
else
  mox_run="${MOX_RUN:-build/bench/mox-run}"
  if [ -z "${MOX_RUN:-}" ]; then
    cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF -DMOX_BENCH=ON >/dev/null
    cmake --build build/bench --target mox-run >/dev/null
  fi
  runner=("$mox_run")
fi
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

for count in 0 "$n"; do
cat >"$dir/events-$count.mox" <<MOX
hits: 0
fld: make face! [type: 'field text: "" actors: make object! [on-key: func [f e][hits: hits + 1 'done]]]
pnl: make face! [type: 'panel offset: 0x0 size: 200x100 pane: reduce [fld]]
win: make face! [type: 'window offset: 0x0 size: 300x200 pane: reduce [pnl]]
view/no-wait win
ev: make event! compose [type: 'key key: #"a" face: (fld)]
loop $count [send-event ev]
if hits <> $count [print "lost events" quit/return 1]
MOX
cat >"$dir/text-$count.mox" <<MOX
fld: make face! [type: 'text text: ""]
win: make face! [type: 'window offset: 0x0 size: 300x200 pane: reduce [fld]]
view/no-wait win
texts: ["abc" "def"]
i: 0
loop $count [fld/text: pick texts 1 + (i: i + 1) // 2]
MOX
cat >"$dir/events-$count.py" <<PY
import tkinter as tk
root = tk.Tk()
frame = tk.Frame(root); frame.pack()
entry = tk.Entry(frame); entry.pack()
hits = 0
def on_key(event):
    global hits
    hits += 1
    return "break"
entry.bind("<<Key>>", on_key)
root.update()
for _ in range($count):
    entry.event_generate("<<Key>>")
assert hits == $count
root.destroy()
PY
cat >"$dir/text-$count.py" <<PY
import tkinter as tk
root = tk.Tk()
frame = tk.Frame(root); frame.pack()
label = tk.Label(frame, text=""); label.pack()
root.update()
texts = ["abc", "def"]
for i in range($count):
    label.configure(text=texts[i % 2])
root.destroy()
PY
done

seconds() {  # the run time of the command, in seconds
  /usr/bin/time -f "%e" "$@" 2>&1 >/dev/null | tail -1
}
median_diff() {  # median over three runs of time(n) - time(0)
  local kind="$1" ext="$2"; shift 2
  for _ in 1 2 3; do
    local a b
    a="$(seconds "$@" "$dir/$kind-$n.$ext")"
    b="$(seconds "$@" "$dir/$kind-0.$ext")"
    python3 -c "print(max($a - $b, 0.001))"
  done | sort -n | sed -n 2p
}
for kind in events text; do
  m="$(median_diff "$kind" mox "${runner[@]}")"
  p="$(median_diff "$kind" py xvfb-run -a python3)"
  python3 -c "print(f'{\"$kind\":7} mox {$m:6.2f}s ({$m/$n*1e6:6.1f} us each)   tk {$p:6.2f}s ({$p/$n*1e6:6.1f} us each)   ratio {$m/$p:5.2f}')"
done
