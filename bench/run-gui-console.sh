#!/usr/bin/env bash
# Times the GUI console under Wine against its peers, in one run on one
# virtual display:
#   start-up: from spawning `wine mox.exe` to the console's first prompt
#             (the terminal's state log reports it), against spawning
#             idle3 to its shell window being mapped (xdotool);
#   printing: a script printing 10,000 lines and quitting, less the same
#             script printing one line, against a Tk 8.6 Text widget taking
#             10,000 inserted lines and drawn every 22 lines (natively,
#             the same display).
# Every figure is the median of five runs after one warm-up run, printed
# with the ratio (mox / peer; below 1 is better).
# Usage: bench/run-gui-console.sh
set -eu
cd "$(dirname "$0")/.."
command -v idle3 >/dev/null || apt-get install -y idle3 >/dev/null
for tool in xvfb-run wine xdotool idle3 python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done
mox_exe="${MOX_EXE:-build/bench-win64/mox.exe}"
if [ -z "${MOX_EXE:-}" ]; then
  cmake -S . -B build/bench-win64 -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
  cmake --build build/bench-win64 --target mox >/dev/null
fi
export WINEPREFIX="${WINEPREFIX:-$(pwd)/build/bench-win64/wineprefix}" WINEDEBUG=-all
scripts/wine-prefix "$WINEPREFIX"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

cat >"$dir/bench.py" <<'PY'
import json, os, statistics, subprocess, sys, time
mox, folder = sys.argv[1], sys.argv[2]

def win(path):  # Unix paths reach the program through drive Z:
    return "Z:" + path.replace("/", "\\")

def first_prompt(args, log):
    if os.path.exists(log):
        os.remove(log)
    env = dict(os.environ, MOX_CONSOLE_LOG=win(log))
    t0 = time.monotonic()
    p = subprocess.Popen(["wine", mox] + args, env=env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    while True:
        if os.path.exists(log):
            with open(log) as f:
                if any('"event":"ask"' in line for line in f):
                    break
        time.sleep(0.005)
    t = time.monotonic() - t0
    p.kill(); p.wait()
    subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
    return t

def idle_mapped():
    t0 = time.monotonic()
    p = subprocess.Popen(["idle3"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while not subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "IDLE Shell"],
                             capture_output=True).stdout.strip():
        time.sleep(0.005)
    t = time.monotonic() - t0
    p.kill(); p.wait()
    return t

def run_to_end(script):
    t0 = time.monotonic()
    subprocess.run(["wine", mox, win(script)], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=300)
    return time.monotonic() - t0

def tk_text(n):
    code = ("import tkinter, time\nr = tkinter.Tk()\nt = tkinter.Text(r, width=80, height=30)\n"
            "t.pack()\nr.update()\nt0 = time.perf_counter()\n"
            "for i in range(1, %d + 1):\n    t.insert('end', '%%d\\n' %% i)\n    t.see('end')\n"
            "    if i %% 22 == 0: r.update()\nr.update()\nprint(time.perf_counter() - t0)\n" % n)
    return float(subprocess.run([sys.executable, "-c", code], capture_output=True,
                                text=True).stdout)

def median(f, *a):
    f(*a)
    return statistics.median(f(*a) for _ in range(5))

many = os.path.join(folder, "many.mox")
one = os.path.join(folder, "one.mox")
with open(many, "w") as f:
    f.write("Mox []\nrepeat i 10000 [print i]\nquit\n")
with open(one, "w") as f:
    f.write("Mox []\nprint 1\nquit\n")
log = os.path.join(folder, "state.log")
m_start = median(first_prompt, [], log)
i_start = median(idle_mapped)
m_print = median(run_to_end, many) - median(run_to_end, one)
t_print = median(tk_text, 10000)
print("start-up  mox %.3f s  idle3 %.3f s  ratio %.2f" % (m_start, i_start, m_start / i_start))
print("10000 lines  mox %.3f s  Tk Text %.3f s  ratio %.2f" % (m_print, t_print, m_print / t_print))
PY
xvfb-run -a -s "-screen 0 1024x768x24" python3 "$dir/bench.py" "$mox_exe" "$dir"
