#!/usr/bin/env bash
# Times the GUI console under Wine against its peers, in one run on one
# virtual display:
#   start-up: from spawning `wine mox.exe` to the console's first prompt
#             (the terminal's state log reports it), against spawning
#             idle3 to its shell window being mapped (xdotool);
#   printing: a script printing 10,000 lines and quitting, less the same
#             script printing one line, against the C++ floor
#             (bench/console_floor.cpp: Direct2D and DirectWrite drawing
#             the same screens at the same points, its scroll bar moved
#             once a drawing as the console's is, under Wine; also timed
#             without the bar) and a Tk 8.6
#             Text widget taking 10,000 inserted lines and drawn every 22
#             lines (natively, the same display; reported only).
# Wine's server is started once and kept for the whole run, as a system's
# services are already up when a program starts: no start-up pays for
# booting Wine.
# Every figure is the median of RUNS runs (default 3) after one warm-up run,
# the programs taking turns within each round, printed with the ratio
# (mox / peer; below 1 is better). MOX_EXE names the mox.exe to time (else
# it is built); MOX_OLD_EXE, when set, is timed in the same rounds.
# Usage: [RUNS=n] bench/run-gui-console.sh
set -eu
cd "$(dirname "$0")/.."
command -v idle3 >/dev/null || apt-get install -y idle3 >/dev/null
for tool in xvfb-run wine xdotool idle3 python3 x86_64-w64-mingw32-g++-posix; do
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
x86_64-w64-mingw32-g++-posix -O2 -std=c++20 -municode bench/console_floor.cpp -o "$dir/console_floor.exe" \
  -static -ld2d1 -ldwrite

cat >"$dir/bench.py" <<'PY'
import json, os, signal, statistics, subprocess, sys, time
mox, folder = sys.argv[1], sys.argv[2]
old = sys.argv[3] if len(sys.argv) > 3 else None

def win(path):  # Unix paths reach the program through drive Z:
    return "Z:" + path.replace("/", "\\")

def first_prompt(mox, args, log):
    if os.path.exists(log):
        os.remove(log)
    env = dict(os.environ, MOX_CONSOLE_LOG=win(log))
    t0 = time.monotonic()
    p = subprocess.Popen(["wine", mox] + args, env=env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    deadline = t0 + 120
    while time.monotonic() < deadline:
        if os.path.exists(log):
            with open(log) as f:
                if any('"event":"ask"' in line for line in f):
                    break
        time.sleep(0.005)
    t = time.monotonic() - t0
    p.kill(); p.wait()
    return t

def idle_mapped():
    t0 = time.monotonic()
    # A session of its own: IDLE's execution process ends with it.
    p = subprocess.Popen(["idle3"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True)
    while not subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "IDLE Shell"],
                             capture_output=True).stdout.strip():
        time.sleep(0.005)
    t = time.monotonic() - t0
    os.killpg(p.pid, signal.SIGKILL); p.wait()
    return t

def run_to_end(mox, script):
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

def floor(n, *more):
    out = subprocess.run(["wine", os.path.join(folder, "console_floor.exe"), str(n)] + list(more),
                         capture_output=True, text=True, timeout=600).stdout
    return float(out.split()[-1])

runs = int(os.environ.get("RUNS", "3"))
many = os.path.join(folder, "many.mox")
one = os.path.join(folder, "one.mox")
with open(many, "w") as f:
    f.write("Mox []\nrepeat i 10000 [print i]\nquit\n")
with open(one, "w") as f:
    f.write("Mox []\nprint 1\nquit\n")
log = os.path.join(folder, "state.log")
exes = [("mox", mox)] + ([("old", old)] if old else [])
subprocess.run(["wineserver", "-p"])
rows = {}
def add(name, v):
    rows.setdefault(name, []).append(v)
for r in range(runs + 1):  # round 0 warms up
    keep = r > 0
    # The order turns each round: no program always starts first.
    for name, exe in (exes if r % 2 else exes[::-1]):
        v = first_prompt(exe, [], log)
        if keep: add(name + " start", v)
    v = idle_mapped()
    if keep: add("idle3 start", v)
    for name, exe in exes:
        v = run_to_end(exe, many) - run_to_end(exe, one)
        if keep: add(name + " print", v)
    v = floor(10000)
    if keep: add("floor print", v)
    v = floor(10000, "641", "481", "nobar")
    if keep: add("bare floor print", v)
    v = tk_text(10000)
    if keep: add("Tk print", v)
med = {k: statistics.median(v) for k, v in rows.items()}
for name, _ in exes:
    print("start-up     %-4s %.3f s  idle3 %.3f s  ratio %.2f"
          % (name, med[name + " start"], med["idle3 start"], med[name + " start"] / med["idle3 start"]))
for name, _ in exes:
    print("10000 lines  %-4s %.3f s  C++ floor %.3f s  ratio %.2f  (Tk Text %.3f s)"
          % (name, med[name + " print"], med["floor print"], med[name + " print"] / med["floor print"],
             med["Tk print"]))
    print("             %-4s against the floor without its scroll bar %.3f s: ratio %.2f"
          % (name, med["bare floor print"], med[name + " print"] / med["bare floor print"]))
subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
print("runs: %d; every figure a median; rows: %r" % (runs, {k: [round(x, 3) for x in v] for k, v in rows.items()}))
PY
# A display of its own, away from the tests' :99.
n=120
while [ -e "/tmp/.X$n-lock" ] && [ $n -lt 139 ]; do n=$((n + 1)); done
xvfb-run -n "$n" -s "-screen 0 1024x768x24" python3 "$dir/bench.py" "$mox_exe" "$dir" ${MOX_OLD_EXE:+"$MOX_OLD_EXE"}
xvfb-run -n "$n" -s "-screen 0 1024x768x24" python3 bench/idle_print.py
