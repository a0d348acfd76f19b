#!/usr/bin/env bash
# Times `layout` of a 1,000-face VID block (text, field and button in turn,
# ten to a row) on the null back end against Python's tkinter making the
# same 1,000 Label, Entry and Button widgets, gridded ten to a row, then
# update_idletasks in a withdrawn window on a virtual X display. Each side
# times its own work five times in separate processes; the medians and the
# ratio (mox / tk; below 1 is better) are printed. With MOX_WINE=1 the win64
# mox-run.exe (MOX_RUN, default build/vid-bench-win64/mox-run.exe) runs under Wine.
# Usage: bench/run-vid.sh [faces]
set -eu
cd "$(dirname "$0")/.."
n="${1:-1000}"
if ! python3 -c "import tkinter" 2>/dev/null; then
  sudo apt-get install -y python3-tk >/dev/null
fi
if ! command -v xvfb-run >/dev/null; then
  sudo apt-get install -y xvfb >/dev/null
fi
if [ "${MOX_WINE:-0}" = 1 ]; then
  mox_run="${MOX_RUN:-build/vid-bench-win64/mox-run.exe}"
  if [ -z "${MOX_RUN:-}" ]; then
    cmake -S . -B build/vid-bench-win64 -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
    cmake --build build/vid-bench-win64 --target mox-run -j3 >/dev/null
  fi
  runner=(wine "$mox_run")
else
  mox_run="${MOX_RUN:-build/vid-bench/mox-run}"
  if [ -z "${MOX_RUN:-}" ]; then
    cmake -S . -B build/vid-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF -DMOX_BENCH=ON >/dev/null
    cmake --build build/vid-bench --target mox-run -j3 >/dev/null
  fi
  runner=("$mox_run")
fi
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

cat >"$dir/layout.mox" <<MOX
spec: make block! 3 * $n
repeat i $n [
	append spec pick [[text "label"] [field "entry"] [button "push"]] i - 1 // 3 + 1
	if all [i // 10 = 0 i < $n] [append spec 'return]
]
start: now/precise
win: layout spec
spent: to float! difference now/precise start
if $n <> length? win/pane [print "faces lost" quit/return 1]
print spent
MOX

median() { sort -n | sed -n 3p; }
m="$(for _ in 1 2 3 4 5; do "${runner[@]}" "$dir/layout.mox" | tr -d "\r" | tail -1; done | median)"
p="$(for _ in 1 2 3 4 5; do xvfb-run -a python3 bench/vid_peer.py "$n" | tail -1; done | median)"
python3 -c "print(f'layout of $n faces: mox {$m*1e3:7.1f} ms   tk {$p*1e3:7.1f} ms   ratio {$m/$p:5.2f}')"
