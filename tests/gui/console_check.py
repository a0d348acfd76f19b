#!/usr/bin/env python3
"""The GUI console under Wine, driven as a user would drive it.

Starts mox.exe with MOX_CONSOLE_LOG naming a file in which the terminal
writes its state (one JSON object a line) at every prompt, key and output,
types with xdotool and waits on that file:

- a script that prints nothing ends with status 0 and never maps a window;
- a script that prints shows the window with its first line and ends with
  the status it quits with;
- the interactive console: the banner, 1 + 2, a block over three lines with
  its continuation cues, an error, Up, Tab, and quit/return with a status;
- the screen, read back from X (XGetImage): the background, ink only in the
  rows that hold text, the selection backdrop of Alt+A, a hidden input drawn
  as the same pixels as typed stars, Ctrl+Up, the wheel and Ctrl+wheel
  moving or scaling what is drawn, F12 taking the menu bar away and back, a
  resized window;
- the clipboard through xclip: Alt+A and Ctrl+C out, Ctrl+V and Shift+Insert
  in, three pasted lines of which two run;
- the close box (WM_DELETE_WINDOW from X) and the caret's blink rate as the
  system reports it (MOX_CARET_BLINK_TIME stands in for it).

    console_check.py [--screen] MOX-EXE [EMULATOR...]

With --screen only the screen's checks run (their own test, since they
depend on the renderer as well as on the console).

Needs an X display: the one in DISPLAY, else an Xvfb of its own. Every wait
is a guard against a hang, not a measurement.
"""
import ctypes
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


def start(mox_exe, emulator, args, log, **extra):
    env = dict(os.environ, MOX_CONSOLE_LOG=windows_path(log), **extra)
    return subprocess.Popen(emulator + [mox_exe] + [windows_path(a) for a in args], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)


def status(proc):
    try:
        # Scripts that print 100,000 characters take minutes on a loaded
        # machine under Wine; this only guards against a hang.
        return proc.wait(timeout=4 * WAIT)
    except subprocess.TimeoutExpired:
        proc.kill()
        return None


def quit_status(proc, log):
    """The status of a console told to quit (plain quit: 0). A process that
    Wine is tearing down can die by a Unix signal after its quit: on a busy
    machine the Wine server kills one whose exit takes too long (-9), and
    now and then the teardown itself faults (-11; not a Windows exception,
    which Wine would have turned into an exit code). When the log's last
    record shows that the console reached its quit, that quit's 0 stands,
    and the note says so."""
    got = status(proc)
    last = records(log)[-1:]
    if got in (-9, -11) and last and last[0]["event"] == "quit":
        print("note: the console died by signal %d in Wine's teardown after its quit" % -got)
        return 0
    return got


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

    # Names and arguments beyond ASCII reach the script as typed: the
    # console reads the system's wide command line, not the code page's.
    wide = os.path.join(folder, "caf\u00e9.mox")
    with open(wide, "w", encoding="utf-8") as f:
        f.write('Mox []\nprint [mold system/options/args mold system/script/args '
                'second split-path system/options/script]\nquit/return 3\n')
    log = os.path.join(folder, "wide.log")
    utf8 = {"LC_ALL": "C.UTF-8"}
    proc = start(mox_exe, emulator, [wide, "\u00e9", 'say "hi"'], log, **utf8)
    first = wait_for(log, lambda r: r["event"] == "print", "the script named caf\u00e9.mox prints")
    # Wine writes the quotes inside an argument as \" in the line it makes.
    want = '["\u00e9" {say \\"hi\\"}] {\u00e9 "say \\"hi\\""} caf\u00e9.mox'
    check(first is not None and first["lines"] == [want],
          "its name and arguments arrive as typed (got %r, want %r)"
          % (first and first["lines"], want))
    check(status(proc) == 3, "the script named caf\u00e9.mox runs to its quit")

    # A name that cannot be read is reported in the console, and the
    # prompt follows: no message box waits for a click.
    log = os.path.join(folder, "unreadable.log")
    proc = start(mox_exe, emulator, [os.path.join(folder, "none-\u00e9.mox")], log, **utf8)
    try:
        r = wait_for(log, lambda r: r["event"] == "ask", "a prompt after a missing script")
        check(r is not None and any(l.startswith("*** Access Error: cannot open") and
                                    "none-\u00e9.mox" in l for l in r["lines"]),
              "the missing none-\u00e9.mox is reported in the console (got %r)"
              % (r and r["lines"][:3]))
    finally:
        proc.kill()
        proc.wait()


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
        xdotool("key", "ctrl+k")
        enter("value: 10", lambda r: "== 10" in r["lines"], "value: 10")
        enter("1 + 1", lambda r: "== 2" in r["lines"], "1 + 1 answers == 2")
        enter("value", lambda r: r["lines"][-2:] == ["== 10", ">> "],
              "the console's result leaves the user's value alone")
        # Output at the stack's end: the overflow is reported like any
        # error (its stack fills the screen, so the buffer is searched
        # afterwards) and the prompt comes back with the terminal in step.
        enter("gui-console-ctx/terminal/clean", lambda r: r["lines"][-1] == ">> ", "a clean screen")
        for deep in ('r: func [n][if n > 3000 [print "deep"] r n + 1] r 1',
                     'r: func [n][prin "." r n + 1] r 1'):
            enter(deep, lambda r: r["lines"][-1] == ">> ", "%s gives the next prompt" % deep)
            # Each line stays short: the history is saved with the
            # configuration, and later checks want no long entry in it.
            enter('t: gui-console-ctx/terminal k: rejoin ["**" "* "] n: 0',
                  lambda r: r["lines"][-1] == ">> ", "the terminal at hand")
            enter('foreach l t/lines [if find l k [n: n + 1] if find/match l "== [" [n: n + 100]]',
                  lambda r: r["lines"][-1] == ">> ", "the lines counted")
            enter('m: length? t/lines c: reduce ["check" n m = length? t/nlines m = length? t/heights]',
                  lambda r: r["lines"][-1] == ">> ", "the series measured")
            r = enter('append c (length? t/lines) = length? t/flags t/clean print c',
                      lambda r: any(l.startswith("check ") for l in r["lines"]),
                      "%s is checked" % deep)
            check(r is not None and "check 4 true true true" in r["lines"],
                  "%s reports one error of four lines and no result, the terminal in step (%r)"
                  % (deep, r and r["lines"][-3:]))

        mark = last_counter(log)
        xdotool("key", "ctrl+k")
        xdotool("type", "--delay", "60", "quit/return 4")
        xdotool("key", "Return")
        check(status(proc) == 4, "quit/return 4 ends the console with status 4")
    finally:
        if proc.poll() is None:
            proc.kill()


# --- the screen, read back from X ---------------------------------------------

BACKGROUND = (252, 252, 252)  # the theme's background without a configuration
SELECTED = (128, 128, 128)  # the selection backdrop, half covering the background
INK = 60  # a channel this far from the background is drawn text


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


class X:
    """The display through libX11: rectangles of the root window's pixels and
    the close box's message to a window."""

    def __init__(self):
        x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x11.XGetImage.restype = ctypes.POINTER(XImage)
        x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                  ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x11.XDestroyImage.argtypes = [ctypes.c_void_p]
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                   ctypes.c_void_p]
        x11.XFlush.argtypes = [ctypes.c_void_p]
        self.x11 = x11
        self.display = x11.XOpenDisplay(None)
        if not self.display:
            sys.exit("cannot open the X display %r" % os.environ.get("DISPLAY"))
        self.root = x11.XDefaultRootWindow(self.display)

    def grab(self, x, y, w, h):
        """Rows of (r, g, b) of the screen's rectangle, read in one request."""
        image = self.x11.XGetImage(self.display, self.root, x, y, w, h, 0xFFFFFFFF, 2)  # ZPixmap
        if not image:
            return [[(0, 0, 0)] * w for _ in range(h)]
        im = image.contents
        step = im.bytes_per_line
        raw = ctypes.string_at(im.data, step * h)
        rows = [[(raw[r * step + 4 * c + 2], raw[r * step + 4 * c + 1], raw[r * step + 4 * c])
                 for c in range(w)] for r in range(h)]
        self.x11.XDestroyImage(image)
        return rows

    def close_box(self, window):
        """What a window manager sends when the close box is clicked."""
        protocols = self.x11.XInternAtom(self.display, b"WM_PROTOCOLS", 0)
        delete = self.x11.XInternAtom(self.display, b"WM_DELETE_WINDOW", 0)
        event = (ctypes.c_long * 24)()
        # XClientMessageEvent: type, serial, send_event, display, window,
        # message_type, format, then data.l[5].
        event[0] = 33  # ClientMessage
        event[4] = window
        event[5] = protocols
        event[6] = 32
        event[7] = delete
        event[8] = 0  # CurrentTime
        self.x11.XSendEvent(self.display, window, 0, 0, ctypes.byref(event))
        self.x11.XFlush(self.display)


def geometry(window):
    x = y = w = h = 0
    for line in xdotool("getwindowgeometry", window).splitlines():
        line = line.strip()
        if line.startswith("Position:"):
            x, y = [int(v) for v in line.split()[1].split(",")]
        elif line.startswith("Geometry:"):
            w, h = [int(v) for v in line.split()[1].split("x")]
    return x, y, w, h


def near(p, q, tol):
    return all(abs(a - b) <= tol for a, b in zip(p, q))


def inked(p):
    return any(abs(a - b) > INK for a, b in zip(p, BACKGROUND))


class Screen:
    """The console face as drawn: the window's rectangle grabbed, the face
    found below the menu bar (the first row of background at its left edge)."""

    def __init__(self, x, window, state):
        wx, wy, ww, wh = geometry(window)
        self.rows = x.grab(wx, wy, ww, wh)
        self.top = next((y for y in range(wh) if self.rows[y][2] == BACKGROUND), None)
        self.line_h = state["line-h"]
        cw, ch = [int(v) for v in state["size"].split("x")]
        # The text box leaves 20 pixels to the scroll bar.
        self.width = min(ww, cw - 20)
        self.height = min(wh - (self.top or 0), ch)

    def band(self, k):
        """The pixels of text row k (0 the topmost shown)."""
        y0 = self.top + k * self.line_h
        return [r[:self.width] for r in self.rows[y0:min(y0 + self.line_h, self.top + self.height)]]

    def ink(self, k):
        return sum(1 for r in self.band(k) for p in r if inked(p))

    def ink_box(self, k):
        """The smallest (x0, y0, x1, y1) holding the ink of row k."""
        pts = [(x, y) for y, r in enumerate(self.band(k)) for x, p in enumerate(r) if inked(p)]
        if not pts:
            return None
        xs, ys = [p[0] for p in pts], [p[1] for p in pts]
        return min(xs), min(ys), max(xs), max(ys)

    def shown_rows(self):
        return self.height // self.line_h


def shifted(before, after, rows):
    """Whether after shows before's text rows `rows` rows lower (the rows
    that stay on the screen both times), pixel for pixel."""
    n = before.shown_rows()
    same = all(before.band(k) == after.band(k + rows) for k in range(0, n - rows - 1))
    return same and any(before.ink(k) for k in range(0, n - rows - 1))


def inked_rows(s, lines, when, rows=None):
    """Ink in the rows whose lines hold text, none in the others; `rows`
    gives each line's count of rows when lines wrap (one each without)."""
    n = s.shown_rows()
    used = [bool(l.strip()) for l, k in zip(lines, rows or [1] * len(lines)) for _ in range(k)]
    used = (used + [False] * n)[:n]
    got = [s.ink(k) > 0 for k in range(n)]
    check(got == used, "ink in the rows that hold text and nowhere else, %s (rows %r, expected %r)"
          % (when, [k for k, v in enumerate(got) if v], [k for k, v in enumerate(used) if v]))


def screen(mox_exe, emulator, folder):
    log = os.path.join(folder, "screen.log")
    # A caret that does not blink keeps the grabs steady.
    x = X()
    proc = start(mox_exe, emulator, [], log, MOX_CARET_BLINK_TIME="4294967295")
    try:
        first = wait_for(log, lambda r: r["event"] == "ask", "the first prompt (screen)")
        window = find_window()
        if first is None or window is None:
            return
        point_at(window)
        time.sleep(1)

        def settle(mark, what, wanted=lambda r: True, event="ask"):
            r = wait_for(log, lambda r: r["event"] == event and wanted(r), what, mark)
            time.sleep(1.5)  # the paint follows the state
            return r

        def enter(text, wanted, what):
            mark = last_counter(log)
            xdotool("type", "--delay", "40", text)
            xdotool("key", "Return")
            return settle(mark, what, wanted)

        def keys(what, *names):
            mark = last_counter(log)
            for k in names:
                xdotool("key", k)
            return settle(mark, what, lambda r: r["counter"] >= mark + len(names), "key")

        s = Screen(x, window, first)
        check(s.top is not None, "the console face is found below the menu bar")
        if s.top is None:
            return
        n = len(first["lines"])
        check(all(p == BACKGROUND for r in s.rows[s.top + n * s.line_h:s.top + s.height]
                  for p in r[:s.width]),
              "below the text the face is the background colour %r" % (BACKGROUND,))
        inked_rows(s, first["lines"], "at the first prompt")

        # Alt+A: every line selected, drawn on the half-covering backdrop.
        mark = last_counter(log)
        xdotool("key", "alt+a")
        r = settle(mark, "Alt+A", event="select-all")
        if r:
            last = r["lines"][-1]
            check(r["selects"] == [1, 1, len(r["lines"]), len(last) + 1],
                  "Alt+A selects from the first line to the end of the last (got %r)" % r["selects"])
        s = Screen(x, window, r or first)
        mix = tuple(round((a + b) / 2) for a, b in zip(BACKGROUND, SELECTED))
        backdrop = [sum(1 for row in s.band(k) for p in row if near(p, mix, 8)) for k in range(6)]
        check(all(backdrop[k] >= s.line_h * 8 for k in range(n) if first["lines"][k].strip()),
              "the selected rows lie on the backdrop %r (pixels a row %r)" % (mix, backdrop))
        # The backdrop takes the text's own line height, which may pass the
        # row by a pixel: the row below is clear from its second pixel row.
        below = [p for row in s.band(n)[1:] + s.band(n + 1) for p in row if near(p, mix, 8)]
        check(not below, "no backdrop past the selection (%d pixels)" % len(below))
        keys("the selection cleared", "End")

        # A hidden input shows the same pixels as the stars typed in clear.
        enter('length? secret: ask/hide "pw: "', lambda r: r["lines"][-1] == "pw: ", "ask/hide asks")
        r = enter("abcd", lambda r: r["lines"][-2:] == ["== 4", ">> "], "the hidden answer is entered")
        check(r is not None and "abcd" not in json.dumps(r["lines"]), "the answer is never shown")
        r = enter('print "pw: ****"', lambda r: r["lines"][-2] == "pw: ****", "the stars printed")
        if r:
            s = Screen(x, window, r)
            hidden, typed = len(r["lines"]) - 5, len(r["lines"]) - 2
            check(r["lines"][hidden] == "pw: ****", "the hidden line is logged masked")
            inked_rows(s, r["lines"], "after answers and output")
            check(s.ink(hidden) > 0 and s.band(hidden) == s.band(typed),
                  "the hidden row is drawn as the typed stars are")
        enter("print secret", lambda r: r["lines"][-2] == "abcd", "the hidden answer is kept")

        # Ctrl+Up three times, the wheel a notch up and two down.
        r = enter("repeat i 60 [print i]", lambda r: r["lines"][-2] == "60", "60 lines printed")
        if r is None:
            return
        before = Screen(x, window, r)
        r2 = keys("Ctrl+Up three times", "ctrl+Up", "ctrl+Up", "ctrl+Up")
        after = Screen(x, window, r)
        check(r2 is not None and r2["top"] == r["top"] - 3, "Ctrl+Up three times shows three rows more above")
        check(shifted(before, after, 3), "the text moved down three rows, pixel for pixel")
        xdotool("click", "4")
        time.sleep(2)
        wheel = Screen(x, window, r)
        check(shifted(after, wheel, 3), "a wheel notch up scrolls three rows")
        xdotool("click", "5")
        xdotool("click", "5")
        time.sleep(2)
        back = Screen(x, window, r)
        check(back.rows == before.rows, "two notches down show the screen of before Ctrl+Up")

        # Ctrl+wheel: the text grows with the font.
        mark = last_counter(log)
        xdotool("key", "ctrl+l")
        xdotool("type", "--delay", "20", "MMMMMMMMMMMMMMMMMMMMMMMMMMMMMM")
        r = settle(mark, "a line of M after Ctrl+L", lambda r: r["input"].endswith("M" * 30), "key")
        if r is None:
            return
        small = Screen(x, window, r)
        xdotool("keydown", "ctrl")
        xdotool("click", "4")
        xdotool("click", "4")
        xdotool("keyup", "ctrl")
        r2 = keys("a key after the zoom", "End")
        if r2 is None:
            return
        check(r2["font-size"] == r["font-size"] + 2, "two Ctrl+wheel notches up make the font 2 points larger")
        check(r2["line-h"] > r["line-h"], "the rows grow with the font (%r -> %r)" % (r["line-h"], r2["line-h"]))
        large = Screen(x, window, r2)
        a, b = small.ink_box(0), large.ink_box(0)
        if a and b:
            ratio = (b[2] - b[0]) / (a[2] - a[0])
            want = r2["font-size"] / r["font-size"]
            check(abs(ratio - want) < 0.07 * want,
                  "the line is drawn wider by the fonts' ratio %.3f (got %.3f)" % (want, ratio))
        else:
            check(False, "the line of M is drawn before and after the zoom")
        # The font size is kept in the configuration: back to where it was.
        xdotool("keydown", "ctrl")
        xdotool("click", "5")
        xdotool("click", "5")
        xdotool("keyup", "ctrl")
        r2 = keys("a key after zooming back", "End")
        if r2 is None:
            return
        check(r2["font-size"] == r["font-size"], "two notches down give the font size back")

        # F12 takes the menu bar away and gives it back.
        check(r2["menu-bar"] is True, "the menu bar is there at first")
        r = keys("F12", "F12", "End")
        check(r is not None and r["menu-bar"] is False, "F12 takes the menu bar away")
        bare = Screen(x, window, r2)
        check(bare.top is not None and bare.top < large.top,
              "the console face starts higher without the menu bar (%r -> %r)" % (large.top, bare.top))
        r = keys("F12 again", "F12", "End")
        check(r is not None and r["menu-bar"] is True, "F12 again gives the menu bar back")
        again = Screen(x, window, r2)
        check(again.top == large.top, "the face starts below the menu bar again")

        # A resized window: the metrics follow and the face fills it.
        # The console keeps its window size in its configuration: the window
        # shrinks when it is large and grows when an earlier run left it small.
        wx, wy, ww, wh = geometry(window)
        before = records(log)[-1]["size"]
        step = -1 if ww > 450 and wh > 330 else 1
        xdotool("windowsize", window, ww + step * 120, wh + step * 100)
        time.sleep(2)
        point_at(window)
        r = keys("a key after the resize", "End")
        if r:
            cw, ch = [int(v) for v in r["size"].split("x")]
            old_w, old_h = [int(v) for v in before.split("x")]
            check((cw - old_w) * step == 120 and (ch - old_h) * step == 100,
                  "the console face follows the window (%s -> %s)" % (before, r["size"]))
            check(r["rows"] == ch // r["line-h"] and r["page-cnt"] == r["rows"],
                  "the rows that fit follow the new height (%r for %r)" % (r["rows"], r["size"]))
            check(r["columns"] == int((cw - 20 - 3) / r["char-width"]),
                  "the columns that fit follow the new width (%r)" % r["columns"])
            resized = Screen(x, window, r)
            inside = [p for row in resized.rows[resized.top + resized.line_h * 2:resized.top + resized.height - 2]
                      for p in row[2:resized.width - 2]]
            check(inside and all(p == BACKGROUND for p in inside),
                  "the resized face is the background below its text")
        xdotool("key", "ctrl+k")
        xdotool("type", "--delay", "40", "quit")
        xdotool("key", "Return")
        got = quit_status(proc, log)
        last = records(log)[-1:]
        check(got == 0, "quit ends the console with status 0 (got %r, last state %r)" % (got, last))
    finally:
        if proc.poll() is None:
            proc.kill()


# --- the clipboard, the close box, the caret --------------------------------------

def xclip_out():
    got = subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True,
                         timeout=30)
    return got.stdout.decode("utf-8", "replace").replace("\r\n", "\n")


def xclip_in(text):
    """Owns the clipboard with text until killed (xclip serves its requests)."""
    owner = subprocess.Popen(["xclip", "-quiet", "-i", "-selection", "clipboard"],
                             stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    owner.stdin.write(text.encode("utf-8"))
    owner.stdin.close()
    # Until X serves this text: on a loaded machine xclip can take the
    # selection later than a fixed pause, and the paste would read what an
    # earlier owner (or Wine's copy of it) still serves.
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline:
        if xclip_out() == text.replace("\r\n", "\n"):
            break
        time.sleep(0.1)
    return owner


def clipboard(mox_exe, emulator, folder):
    log = os.path.join(folder, "clipboard.log")
    proc = start(mox_exe, emulator, [], log)
    owners = []
    try:
        first = wait_for(log, lambda r: r["event"] == "ask", "the first prompt (clipboard)")
        window = find_window()
        if first is None or window is None:
            return
        point_at(window)

        mark = last_counter(log)
        xdotool("key", "alt+a")
        xdotool("key", "ctrl+c")
        r = wait_for(log, lambda r: r["event"] == "key" and r["selects"], "Alt+A and Ctrl+C", mark)
        time.sleep(1)
        check(r is not None and xclip_out() == "\n".join(r["lines"]),
              "Ctrl+C of everything gives X the lines as shown (got %r)" % xclip_out()[:80])

        owners.append(xclip_in("ans: 5\nprint ans * 2\nlast: 7"))
        mark = last_counter(log)
        xdotool("key", "End")
        xdotool("key", "ctrl+v")
        r = wait_for(log, lambda r: r["event"] == "ask" and "10" in r["lines"], "two pasted lines ran", mark)
        mark = last_counter(log)
        xdotool("key", "End")
        wait_for(log, lambda r: r["event"] == "key" and r["input"] == "last: 7",
                 "the third pasted line waits in the input", mark)
        if r:
            check("10" in r["lines"] and "== 5" in r["lines"], "both pasted lines ran (%r)" % r["lines"][-6:])
            check(r["history"][:2] == ["print ans * 2", "ans: 5"], "both are in the history")
        owners.append(xclip_in("1 + 41"))
        mark = last_counter(log)
        xdotool("key", "ctrl+k")
        xdotool("key", "shift+Insert")
        wait_for(log, lambda r: r["input"] == "1 + 41", "Shift+Insert pastes", mark)
        mark = last_counter(log)
        xdotool("key", "Return")
        wait_for(log, lambda r: r["event"] == "ask" and "== 42" in r["lines"], "the pasted line runs", mark)

        # The close box: X asks the window to close, the console ends.
        x = X()
        x.close_box(int(window))
        check(quit_status(proc, log) == 0, "the close box ends the console with status 0")
        check(find_window(timeout=2) is None, "the console window is gone")
    finally:
        for owner in owners:
            owner.kill()
            owner.wait()
        if proc.poll() is None:
            proc.kill()


def caret_rates(mox_exe, emulator, folder):
    """The blink rate launch takes from the system: its milliseconds, none for
    a caret that does not blink, 2 seconds when it says 0."""
    for seam, rate in [(None, 0.5), ("530", 0.53), ("0", 2.0), ("4294967295", None)]:
        log = os.path.join(folder, "caret-%s.log" % seam)
        extra = {"MOX_CARET_BLINK_TIME": seam} if seam else {}
        proc = start(mox_exe, emulator, [], log, **extra)
        try:
            r = wait_for(log, lambda r: r["event"] == "ask", "the first prompt (caret %s)" % seam)
            check(r is not None and r["caret-rate"] == rate,
                  "blink time %s gives the caret rate %r (got %r)"
                  % (seam or "from Wine", rate, r and r["caret-rate"]))
        finally:
            proc.kill()
            proc.wait()


def main():
    args = sys.argv[1:]
    screen_only = args[:1] == ["--screen"]
    if screen_only:
        args = args[1:]
    mox_exe, emulator = args[0], args[1:]
    xvfb = gui_check.start_display()
    try:
        with tempfile.TemporaryDirectory() as folder:
            if screen_only:
                screen(mox_exe, emulator, folder)
            else:
                scripts(mox_exe, emulator, folder)
                session(mox_exe, emulator, folder)
                clipboard(mox_exe, emulator, folder)
                caret_rates(mox_exe, emulator, folder)
    finally:
        if xvfb:
            xvfb.kill()


if __name__ == "__main__":
    main()
    sys.exit(1 if gui_check.failures else 0)
