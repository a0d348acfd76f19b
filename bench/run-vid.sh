#!/usr/bin/env bash
# Times `layout` of a 1,000-face VID block (text, field and button in turn,
# ten to a row) on the null back end against Python's tkinter making the
# same 1,000 Label, Entry and Button widgets, gridded ten to a row, then
# update_idletasks in a withdrawn window on a virtual X display. Each side
# times its own work five times in separate processes; the medians and the
# ratio (mox / tk; below 1 is better) are printed. With MOX_WINE=1 the win64
# mox-run.exe (MOX_RUN, default build/vid-bench-win64/mox-run.exe) runs under
# Wine, on its null back end as well (MOX_NULL_GUI=1).
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
  runner=(env MOX_NULL_GUI=1 wine "$mox_run")
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

# The VID block of both rows: text, field and button in turn, ten to a row.
spec_mox="spec: make block! 3 * $n
repeat i $n [
	append spec pick [[text \"label\"] [field \"entry\"] [button \"push\"]] i - 1 // 3 + 1
	if all [i // 10 = 0 i < $n] [append spec 'return]
]
"

cat >"$dir/layout.mox" <<MOX
$spec_mox
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

# The Wine row: view/no-wait of the same layout on the Windows back end
# under Wine (layout, then view/no-wait and its messages drained), against
# Tk making the same widgets in a window that is mapped and updated
# (bench/vid_peer.py --mapped). Both run on one virtual display,
# interleaved, five times; each side times itself, Wine's start-up left
# out. MOX_RUN_WIN picks the win64 mox-run.exe (default: a Release
# build in build/vid-bench-win64); MOX_VIEW_ROW=0 skips the row.
wine_view_row() {
  command -v wine >/dev/null || { echo "view/no-wait under Wine: no wine, skipped"; return 0; }
  local exe="${MOX_RUN_WIN:-build/vid-bench-win64/mox-run.exe}"
  if [ -z "${MOX_RUN_WIN:-}" ]; then
    cmake -S . -B build/vid-bench-win64 -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
    cmake --build build/vid-bench-win64 --target mox-run -j3 >/dev/null
  fi
  export WINEPREFIX="${WINEPREFIX:-$PWD/build/vid-bench-win64/wineprefix}" WINEDEBUG=-all
  mkdir -p "$(dirname "$WINEPREFIX")"
  bash scripts/wine-prefix "$WINEPREFIX" >/dev/null 2>&1
  cat >"$dir/view.mox" <<MOX
$spec_mox
start: now/precise
win: layout spec
laid: now/precise
view/no-wait win
while [do-events/no-wait][]
shown: now/precise
if $n <> length? win/pane [print "faces lost" quit/return 1]
print [to float! difference laid start to float! difference shown laid]
MOX
  # One display for both sides, its number in 120-139 (the test command
  # keeps 99), and one Wine server kept up across the runs.
  local d xvfb="" mox_lines="" tk_lines=""
  for d in $(seq 120 139); do
    if [ ! -e "/tmp/.X$d-lock" ]; then
      Xvfb ":$d" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      xvfb=$!
      break
    fi
  done
  [ -n "$xvfb" ] || { echo "view/no-wait under Wine: no free display"; return 1; }
  sleep 1
  export DISPLAY=":$d"
  for _ in 1 2 3 4 5; do
    mox_lines+="$(wine "$exe" "$dir/view.mox" 2>/dev/null | tr -d "\r" | tail -1)"$'\n'
    tk_lines+="$(python3 bench/vid_peer.py "$n" --mapped | tail -1)"$'\n'
  done
  wineserver -k 2>/dev/null
  kill "$xvfb"
  python3 - "$n" "$mox_lines" "$tk_lines" <<'PY'
import statistics, sys
n, mox, tk = sys.argv[1], sys.argv[2].split("\n"), sys.argv[3].split("\n")
mox = [tuple(map(float, l.split())) for l in mox if len(l.split()) == 2]
tk = [float(l) for l in tk if l.strip()]
if len(mox) < 3 or len(tk) < 3:
    sys.exit("view/no-wait under Wine: too few runs (%d mox, %d tk)" % (len(mox), len(tk)))
lay = statistics.median(m[0] for m in mox)
view = statistics.median(m[1] for m in mox)
both = statistics.median(m[0] + m[1] for m in mox)
peer = statistics.median(tk)
print(f"view/no-wait of {n} faces under Wine: layout {lay*1e3:7.1f} ms + view {view*1e3:7.1f} ms"
      f" = {both*1e3:7.1f} ms   tk mapped {peer*1e3:7.1f} ms   ratio {both/peer:5.2f}"
      f" (view alone {view/peer:5.2f})")
PY
}
if [ "${MOX_VIEW_ROW:-1}" = 1 ]; then wine_view_row; fi
