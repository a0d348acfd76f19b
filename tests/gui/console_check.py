#!/usr/bin/env python3
"""The GUI console under Wine, driven as a user would drive it.

Starts mox.exe with MOX_CONSOLE_LOG naming a file in which the terminal
writes its state (one JSON object a line) at every prompt, key and output,
types with xdotool and waits on that file:

- a script that prints nothing ends with status 0 and never maps a window;
- a script that prints shows the window with its first line and ends with
  the status it quits with;
- the interactive console: the banner, 1 + 2, a block over three lines with
  its continuation cues, an error, Up, Tab, and quit/return with a status.

    console_check.py MOX-EXE [EMULATOR...]

Needs an X display: the one in DISPLAY, else an Xvfb of its own. Every wait
is a guard against a hang, not a measurement.
"""
import json
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import gui_check  # noqa: E402  (its display and xdotool helpers)

TITLE = "Mox Console"
WAIT = 90  # seconds before a missing state counts as a failure
check = gui_check.check
xdotool = gui_check.xdotool


def records(path):
    try:
        with open(path, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]
    except (OSError, ValueError):
        return []


def wait_for(path, wanted, what, after=0):
    """Waits for a record past counter `after` for which wanted(record) holds."""
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        for r in records(path):
            if r["counter"] > after and wanted(r):
                return r
        time.sleep(0.2)
    got = records(path)
    check(False, "%s (last state: %r)" % (what, got[-1] if got else None))
    return None


def last_counter(path):
    got = records(path)
    return got[-1]["counter"] if got else 0


def find_window(timeout=WAIT, visible=True):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        args = ["search"] + (["--onlyvisible"] if visible else []) + ["--name", TITLE]
        found = xdotool(*args).split()
        if found:
            return found[0]
        time.sleep(0.2)
    return None


def point_at(window):
    geometry = xdotool("getwindowgeometry", window)
    x = y = 0
    w = h = 100
    for line in geometry.splitlines():
        line = line.strip()
        if line.startswith("Position:"):
            x, y = [int(v) for v in line.split()[1].split(",")]
        elif line.startswith("Geometry:"):
            w, h = [int(v) for v in line.split()[1].split("x")]
    xdotool("mousemove", x + w // 2, y + h // 2)
    time.sleep(0.3)
    # Without a window manager the window gets the input focus from X.
    xdotool("windowfocus", window)
    time.sleep(0.3)


def windows_path(path):
    """The program runs under Wine: Unix paths reach it through drive Z:."""
    return "Z:" + path.replace("/", "\\") if path.startswith("/") else path


def start(mox_exe, emulator, args, log):
    env = dict(os.environ, MOX_CONSOLE_LOG=windows_path(log))
    return subprocess.Popen(emulator + [mox_exe] + [windows_path(a) for a in args], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)


def status(proc):
    try:
        return proc.wait(timeout=WAIT)
    except subprocess.TimeoutExpired:
        proc.kill()
        return None


def scripts(mox_exe, emulator, folder):
    silent = os.path.join(folder, "silent.mox")
    with open(silent, "w") as f:
        f.write("Mox []\nx: 1 + 2\n")
    log = os.path.join(folder, "silent.log")
    proc = start(mox_exe, emulator, [silent], log)
    mapped = False
    while proc.poll() is None:
        if find_window(timeout=0.5):
            mapped = True
    check(status(proc) == 0, "a silent script ends with status 0")
    check(not mapped, "a silent script never maps the console window")
    check(records(log) == [], "a silent script leaves the terminal untouched")

    printing = os.path.join(folder, "printing.mox")
    with open(printing, "w") as f:
        f.write('Mox []\nprint "first"\nprint "second"\nquit/return 3\n')
    log = os.path.join(folder, "printing.log")
    proc = start(mox_exe, emulator, [printing], log)
    first = wait_for(log, lambda r: r["event"] == "print", "a printing script's first line")
    check(first is not None and first["visible"] and first["lines"] == ["first"],
          "the window is shown with the first printed line (got %r)" % (first,))
    check(status(proc) == 3, "quit/return 3 gives the status 3")


def session(mox_exe, emulator, folder):
    log = os.path.join(folder, "session.log")
    proc = start(mox_exe, emulator, [], log)
    try:
        first = wait_for(log, lambda r: r["event"] == "ask", "the first prompt")
        if first is None:
            return
        check(first["lines"][0].startswith("--== Mox "), "the banner (got %r)" % first["lines"][:1])
        check(first["lines"][-1] == ">> " and first["visible"], "the prompt in a shown window")
        window = find_window()
        check(window is not None, "xdotool finds the console window by its title")
        if window is None:
            return
        point_at(window)

        def enter(text, wanted, what):
            mark = last_counter(log)
            if text:
                xdotool("type", "--delay", "60", text)
            xdotool("key", "Return")
            return wait_for(log, lambda r: r["event"] == "ask" and wanted(r), what, mark)

        enter("1 + 2", lambda r: "== 3" in r["lines"], "1 + 2 answers == 3")
        enter("[", lambda r: r["lines"][-1] == "[    ", "an open block asks with the cue")
        enter("1 2", lambda r: r["lines"][-1] == "[    ", "the block goes on with the cue")
        # The block keeps the line breaks it was typed with.
        enter("]", lambda r: r["lines"][-4:] == ["== [", "    1 2", "]", ">> "],
              "the closed block is evaluated")
        r = enter("no-such-word", lambda r: any(l.startswith("*** Script Error") for l in r["lines"]),
                  "an unknown word reports an error")
        if r:
            check(any("no-such-word has no value" in l for l in r["lines"]),
                  "the error names the word")

        mark = last_counter(log)
        xdotool("key", "Up")
        wait_for(log, lambda r: r["input"] == "no-such-word", "Up brings the last line back", mark)
        mark = last_counter(log)
        xdotool("key", "ctrl+k")
        xdotool("type", "--delay", "60", "system/con")
        xdotool("key", "Tab")
        wait_for(log, lambda r: r["input"] == "system/console" and r["caret"] == 14,
                 "Tab completes system/con", mark)
        mark = last_counter(log)
        xdotool("key", "ctrl+k")
        xdotool("type", "--delay", "60", "quit/return 4")
        xdotool("key", "Return")
        check(status(proc) == 4, "quit/return 4 ends the console with status 4")
    finally:
        if proc.poll() is None:
            proc.kill()


def main():
    mox_exe, emulator = sys.argv[1], sys.argv[2:]
    xvfb = gui_check.start_display()
    try:
        with tempfile.TemporaryDirectory() as folder:
            scripts(mox_exe, emulator, folder)
            session(mox_exe, emulator, folder)
    finally:
        if xvfb:
            xvfb.kill()


if __name__ == "__main__":
    main()
    sys.exit(1 if gui_check.failures else 0)
