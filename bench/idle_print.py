#!/usr/bin/env python3
"""Times IDLE's shell printing lines, for the GUI console's printing row.

Starts idle3 (the one on PATH) with a start-up script run in its shell: the
script prints "ready" and waits until this driver has seen the shell window
mapped (xdotool), then prints 1 to N, one print a line, and writes the time
that took to a file. Each print in IDLE's execution process is a call to the
shell's window, which inserts the text and draws it before answering, so the
time is the shell's printing and drawing time. IDLE is then ended.

Prints the median of RUNS runs (default 3) after one warm-up run, in
seconds and in milliseconds a line. Needs an X display (DISPLAY).

    [RUNS=n] [IDLE_LINES=n] idle_print.py
"""
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

LINES = int(os.environ.get("IDLE_LINES", "10000"))
RUNS = int(os.environ.get("RUNS", "3"))
WAIT = 600  # seconds before a run counts as hung

SCRIPT = """import os, time
print("ready")
while not os.path.exists(%(go)r):
    time.sleep(0.01)
t0 = time.perf_counter()
for i in range(1, %(n)d + 1):
    print(i)
t = time.perf_counter() - t0
with open(%(out)r + ".part", "w") as f:
    f.write(repr(t))
os.rename(%(out)r + ".part", %(out)r)
"""


def shell_mapped():
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "IDLE Shell"],
                           capture_output=True, text=True).stdout
    return bool(found.strip())


def one_run(folder, k):
    go = os.path.join(folder, "go-%d" % k)
    out = os.path.join(folder, "time-%d" % k)
    script = os.path.join(folder, "print-%d.py" % k)
    with open(script, "w") as f:
        f.write(SCRIPT % {"go": go, "out": out, "n": LINES})
    # Its own session, so that IDLE and its execution process end together.
    idle = subprocess.Popen(["idle3", "-r", script], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    try:
        deadline = time.monotonic() + WAIT
        while not shell_mapped():
            if time.monotonic() > deadline or idle.poll() is not None:
                sys.exit("IDLE's shell window was never mapped")
            time.sleep(0.05)
        time.sleep(0.5)  # the shell's start-up output drawn
        open(go, "w").close()
        while not os.path.exists(out):
            if time.monotonic() > deadline or idle.poll() is not None:
                sys.exit("IDLE never finished printing")
            time.sleep(0.1)
        with open(out) as f:
            return float(f.read())
    finally:
        os.killpg(idle.pid, signal.SIGKILL)
        idle.wait()


def main():
    if not shutil.which("idle3") or not shutil.which("xdotool") or not os.environ.get("DISPLAY"):
        sys.exit("needs idle3, xdotool and an X display")
    with tempfile.TemporaryDirectory() as folder:
        times = [one_run(folder, k) for k in range(RUNS + 1)][1:]  # the first warms up
    t = statistics.median(times)
    print("%d lines  IDLE shell %.3f s  (%.2f ms a line; runs %r)"
          % (LINES, t, 1000 * t / LINES, [round(x, 3) for x in times]))


if __name__ == "__main__":
    main()
