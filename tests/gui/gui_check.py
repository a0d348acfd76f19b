#!/usr/bin/env python3
"""The Windows view back end under Wine, driven as a user would drive it.

Runs tests/gui/nested-loops.mox (two nested event loops ended together by
closing both windows), tests/gui/close-box.mox (a window closed by Alt+F4)
and tests/gui/button-field.mox (a window with a
button, a field, a three-state check and a closing button): finds the
window with xdotool, reads the native windows back through Win32
(win-probe), then clicks and types with xdotool and checks the lines the
actors print.

    gui_check.py MOX-RUN WIN-PROBE [EMULATOR]

Needs an X display: the one in DISPLAY, else an Xvfb of its own. Every wait
is a guard against a hang, not a measurement.
"""
import atexit
import os
import queue
import socket
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TITLE = "Mox GUI check"
WAIT = 90  # seconds before a missing line counts as a failure

failures = []


def check(ok, what):
    print(("ok: " if ok else "FAIL: ") + what)
    if not ok:
        failures.append(what)


@atexit.register
def summary():
    # A check's output can run to thousands of lines, of which a CI log
    # keeps the tail: the failures are repeated where they will be seen.
    if failures:
        print("\n%d check%s failed:" % (len(failures), "" if len(failures) == 1 else "s"))
        for what in failures:
            print("FAIL: " + what[:400])
        sys.stdout.flush()


def display_taken(n):
    """Whether display n is in use: its lock names a live process (a server
    that was killed leaves its lock behind)."""
    try:
        with open("/tmp/.X%d-lock" % n) as f:
            pid = int(f.read().strip() or 0)
    except (OSError, ValueError):
        return os.path.exists("/tmp/.X%d-lock" % n)
    if pid <= 0:
        return True
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        pass
    return True


def server_answers(n):
    """Whether an X server accepts connections on display n's socket."""
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        s.connect("/tmp/.X11-unix/X%d" % n)
        return True
    except OSError:
        return False
    finally:
        s.close()


def start_display():
    if os.environ.get("DISPLAY"):
        return None
    for n in range(120, 140):
        if not display_taken(n):
            xvfb = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1024x768x24",
                                     "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            os.environ["DISPLAY"] = ":%d" % n
            # A server killed earlier leaves its socket file behind: wait
            # until the new one answers on it, not until the file exists.
            for _ in range(100):
                if server_answers(n):
                    break
                time.sleep(0.1)
            return xvfb
    sys.exit("no free display for Xvfb")


class Program:
    """A running mox-run whose printed lines arrive in a queue."""

    def __init__(self, command):
        self.proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL)
        self.lines = queue.Queue()
        self.seen = []
        self.ended = False
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.put(raw.decode("utf-8", "replace").rstrip("\r\n"))
        self.lines.put(None)

    def expect_any(self):
        """The next printed line, or None when the program printed no more."""
        deadline = time.monotonic() + WAIT
        while not self.ended and time.monotonic() < deadline:
            try:
                line = self.lines.get(timeout=1)
            except queue.Empty:
                continue
            if line is None:
                self.ended = True
                return None
            self.seen.append(line)
            return line
        return None

    def expect(self, wanted):
        """Waits for the next printed line and checks it."""
        deadline = time.monotonic() + WAIT
        while not self.ended and time.monotonic() < deadline:
            try:
                line = self.lines.get(timeout=1)
            except queue.Empty:
                continue
            if line is None:
                self.ended = True
                break
            self.seen.append(line)
            check(line == wanted, "printed %r (got %r)" % (wanted, line))
            return line
        check(False, "printed %r (the program printed nothing more)" % wanted)
        return None


def xdotool(*args):
    return subprocess.run(["xdotool"] + [str(a) for a in args], capture_output=True,
                          text=True, timeout=60).stdout


def probe(emulator, win_probe):
    out = subprocess.run(emulator + [win_probe, TITLE], capture_output=True, text=True,
                         timeout=120).stdout
    window, children = None, {}
    for line in out.splitlines():
        f = line.split()
        if f and f[0] == "window":
            window = dict(x=int(f[1]), y=int(f[2]), client=(int(f[6]), int(f[7])),
                          dpi=int(f[12]))
        elif f and f[0] == "child":
            text = line.split(" text ", 1)[1] if " text " in line else ""
            key = f[2] if f[2] == "MoxField" else text
            children[key] = dict(cls=f[2], rect=tuple(int(v) for v in f[3:7]),
                                 center=(int(f[8]), int(f[9])), style=int(f[11], 16),
                                 exstyle=int(f[13], 16), text=text)
    return window, children


def click(at):
    xdotool("mousemove", at[0], at[1])
    time.sleep(0.2)
    xdotool("click", "1")


def ends_cleanly(program):
    try:
        code = program.proc.wait(timeout=WAIT)
    except subprocess.TimeoutExpired:
        program.proc.kill()
        code = None
    check(code == 0, "the script ends with status 0 once its windows are closed (got %r)" % code)


def nested_loops(mox_run, emulator):
    program = Program(emulator + [mox_run, os.path.join(HERE, "nested-loops.mox")])
    for line in ["inner open", "closing both", "inner end", "outer end 0"]:
        program.expect(line)
    ends_cleanly(program)


def close_box(mox_run, emulator):
    program = Program(emulator + [mox_run, os.path.join(HERE, "close-box.mox")])
    program.expect("ready")
    found = ""
    for _ in range(50):
        found = xdotool("search", "--name", "Mox close check").strip()
        if found:
            break
        time.sleep(0.2)
    check(bool(found), "xdotool finds the window to close")
    if found:
        # Activate it with a click in its client area, then ask to close.
        click((60 + 60, 60 + 50))
        time.sleep(0.3)
        xdotool("key", "alt+F4")
        program.expect("close")
        program.expect("end 0")
    ends_cleanly(program)


def main():
    mox_run, win_probe = sys.argv[1], sys.argv[2]
    emulator = sys.argv[3:]
    xvfb = start_display()
    program = None
    try:
        nested_loops(mox_run, emulator)
        close_box(mox_run, emulator)
        program = Program(emulator + [mox_run, os.path.join(HERE, "button-field.mox")])
        for line in ["ticks 1", "shown (100, 120) 240x120", "click Go click", "sent true", 'key #"z"',
                     "sent true", "go key 65533", "sent true", "sent true", "go key 128512",
                     "sent true", "ready"]:
            program.expect(line)

        found = ""
        for _ in range(50):
            found = xdotool("search", "--name", TITLE).strip()
            if found:
                break
            time.sleep(0.2)
        check(bool(found), "xdotool finds the window by its title")

        window, children = probe(emulator, win_probe)
        check(window is not None, "win-probe finds the window")
        if window is None:
            return
        # At 96 dpi a face's offset is its window's outer origin and its
        # size the client area; a child's offset is in its parent's client.
        check(window["dpi"] == 96, "96 dpi (got %r)" % window["dpi"])
        check((window["x"], window["y"]) == (100, 120), "window origin 100x120 (got %r)"
              % ((window["x"], window["y"]),))
        check(window["client"] == (240, 120), "client size 240x120 (got %r)" % (window["client"],))
        BS_MULTILINE, BS_3STATE, ES_AUTOHSCROLL, ES_PASSWORD = 0x2000, 0x5, 0x80, 0x20
        WS_VISIBLE, WS_TABSTOP, WS_EX_CLIENTEDGE = 0x10000000, 0x10000, 0x200
        table = [
            # key, class, rect, style bits set, style bits clear, extended style bits
            ("Go", "MoxButton", (10, 10, 60, 24), WS_VISIBLE | BS_MULTILINE, WS_TABSTOP, 0),
            ("Done", "MoxButton", (150, 10, 60, 24), WS_VISIBLE | BS_MULTILINE, 0, 0),
            ("Tick", "MoxButton", (140, 50, 80, 24), WS_VISIBLE | WS_TABSTOP | BS_3STATE, 0, 0),
            ("Tock", "MoxFace", (80, 10, 60, 24), WS_VISIBLE, 0, 0),
            ("MoxField", "MoxField", (10, 50, 120, 24), WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
             ES_PASSWORD, WS_EX_CLIENTEDGE),
        ]
        for key, cls, rect, on, off, ex in table:
            c = children.get(key)
            check(c is not None, "%s has a window" % key)
            if c is None:
                continue
            check(c["cls"] == cls, "%s class %s (got %s)" % (key, cls, c["cls"]))
            check(c["rect"] == rect, "%s at %r (got %r)" % (key, rect, c["rect"]))
            check(c["style"] & on == on and not c["style"] & off,
                  "%s style %08x has %08x, lacks %08x" % (key, c["style"], on, off))
            check(c["exstyle"] & ex == ex, "%s extended style has %08x" % (key, ex))
        check(children.get("MoxField", {}).get("text") == "z",
              "the made key event reached the field's text")
        if failures:
            return

        # Input as a user gives it: clicks and typing against what the
        # actors print. The first click also activates the window (there
        # is no window manager).
        click(children["Go"]["center"])
        program.expect("click Go click")
        click(children["MoxField"]["center"])
        time.sleep(0.3)
        xdotool("type", "--delay", "100", "hi")
        program.expect('key #"h"')
        program.expect('key #"i"')
        # Keys without a character raise key-down and then key with their
        # word; a wheel notch picks 1.0 or -1.0.
        for key, word in [("F5", "F5"), ("Left", "left"), ("Home", "home"), ("End", "end")]:
            xdotool("key", key)
            program.expect("key " + word)
        for button, notch in [(4, "1.0"), (5, "-1.0")]:
            xdotool("click", button)
            program.expect("wheel " + notch)
        # The three-state check cycles once per click: none, false, true, none.
        for state in ["false", "true", "none"]:
            click(children["Tick"]["center"])
            program.expect("check " + state)
        click(children["Done"]["center"])
        program.expect('done "zhi"')
        program.expect("end 0")
        ends_cleanly(program)
    finally:
        if program and program.proc.poll() is None:
            program.proc.kill()
        if xvfb:
            xvfb.terminate()


if __name__ == "__main__":
    main()
    sys.exit(1 if failures else 0)
