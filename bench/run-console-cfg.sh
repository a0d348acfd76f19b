#!/usr/bin/env bash
# What the console's configuration file costs at start-up, in one run:
# start-up with a full file (100 history entries of 1 KB each, ten extra
# keys; the window and font as the defaults, so that only the file differs)
# against start-up with no file.
#   native: the null-back-end console (MOX_GUI_CONSOLE=1) running a script
#           that ends the process at once (quit-return: nothing is saved),
#           from spawn to exit;
#   wine:   mox.exe from spawning `wine mox.exe` to its window being mapped
#           (xdotool), which follows the configuration's loading and
#           applying; skipped with a note when no window comes.
# Every figure is the median of 21 runs (seven under Wine) after one warm-up
# run, printed with the ratio (full / none; the target is below 1.10).
# Usage: bench/run-console-cfg.sh [--native-only]
# (MOX_BIN and MOX_EXE name ready-built native and Windows executables.)
set -eu
cd "$(dirname "$0")/.."
mox_bin="${MOX_BIN:-$(pwd)/build/bench/mox}"
if [ -z "${MOX_BIN:-}" ]; then
  cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF >/dev/null
  cmake --build build/bench -j3 --target mox >/dev/null
fi
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

cat >"$dir/bench.py" <<'PY'
import os, shutil, statistics, subprocess, sys, time
native, folder, wine_exe = sys.argv[1], sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None

def full_file():
    entries = " ".join('"%s"' % (("%03d " % i) + "x" * 1019) for i in range(100))
    extra = "".join("extra-%d: %d\n" % (i, i) for i in range(10))
    return ('Mox [\n\tPurpose: "Mox Console Configuration File"\n]\n\n'
            "win-pos: (200, 200)\nwin-size: 640x480\nfont-name: \"Consolas\"\nfont-size: 11\n"
            "font-color: 0.0.0\nbackground: 252.252.252\nmouse-paste?: false\nmenu-bar?: true\n"
            "dark-mode?: no\n" + extra + "buffer-lines: 10000\nhistory: [" + entries + "]\n")

def place(cache_dir, full):
    cfg_dir = os.path.join(cache_dir, "Mox", "Mox-Console")
    shutil.rmtree(cfg_dir, ignore_errors=True)
    if full:
        os.makedirs(cfg_dir)
        with open(os.path.join(cfg_dir, "console-cfg.mox"), "w") as f:
            f.write(full_file())

def median(f, n):
    f()
    return statistics.median(f() for _ in range(n))

def native_run(appdata, script):
    env = dict(os.environ, APPDATA=appdata, MOX_GUI_CONSOLE="1")
    def once():
        t0 = time.perf_counter()
        subprocess.run([native, script], env=env, check=True, stdout=subprocess.DEVNULL)
        return time.perf_counter() - t0
    return once

def wine_mapped():
    # The window is mapped once the configuration is applied; the state log
    # is not used, as it would copy the whole history at every record.
    def once():
        t0 = time.monotonic()
        p = subprocess.Popen(["wine", wine_exe], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        while not subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "Mox Console"],
                                 capture_output=True).stdout.strip():
            if time.monotonic() - t0 > 60:
                p.kill(); p.wait()
                raise TimeoutError
            time.sleep(0.005)
        t = time.monotonic() - t0
        p.kill(); p.wait()
        subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
        return t
    return once

def report(label, none_t, full_t):
    print("%-8s no file %.4f s  full file %.4f s  ratio %.3f" % (label, none_t, full_t, full_t / none_t))

appdata = os.path.join(folder, "appdata")
script = os.path.join(folder, "end.mox")
with open(script, "w") as f:
    f.write("Mox []\nquit-return 0\n")
place(appdata, False)
none_t = median(native_run(appdata, script), 21)
place(appdata, True)
full_t = median(native_run(appdata, script), 21)
report("native", none_t, full_t)

if wine_exe:
    roaming = subprocess.run(["wine", "cmd", "/c", "echo %APPDATA%"], capture_output=True,
                             text=True).stdout.strip()
    unix = subprocess.run(["winepath", "-u", roaming], capture_output=True,
                          text=True).stdout.strip()
    try:
        place(unix, False)
        none_t = median(wine_mapped(), 7)
        place(unix, True)
        full_t = median(wine_mapped(), 7)
        report("wine", none_t, full_t)
    except TimeoutError:
        print("wine     no window within 60 s: not measured")
    place(unix, False)
PY

if [ "${1:-}" = "--native-only" ]; then
  python3 "$dir/bench.py" "$mox_bin" "$dir"
  exit 0
fi
for tool in xvfb-run wine xdotool python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done
mox_exe="${MOX_EXE:-$(pwd)/build/bench-win64/mox.exe}"
if [ -z "${MOX_EXE:-}" ]; then
  cmake -S . -B build/bench-win64 -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
  cmake --build build/bench-win64 -j3 --target mox >/dev/null
fi
export WINEPREFIX="${WINEPREFIX:-$(pwd)/build/bench-win64/wineprefix}" WINEDEBUG=-all
scripts/wine-prefix "$WINEPREFIX"
xvfb-run -a -s "-screen 0 1024x768x24" python3 "$dir/bench.py" "$mox_bin" "$dir" "$mox_exe"
