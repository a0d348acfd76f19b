#!/usr/bin/env python3
"""Native windows under Wine where a user's input cannot reach them, or
where the program must be made to fail, checked against what the scripts
print, what Win32 reports and what the X screen shows.

- tests/gui/native-events.mox: presses pick the list item under them and
  nothing elsewhere (made presses on a pad, real ones on a list's item and
  below its last item); gestures sent as WM_GESTURE messages by widget-probe
  (the run reads their handles as packed gestures) raise zoom, pan,
  rotate, two-tap and press-tap on the face under them;
- tests/gui/native-failures.mox: a base class that GetClassInfoEx does
  not find, so that the button made from it cannot be created, and both
  failures reported while the script goes on;
- tests/gui/native-gdiplus.mox: without Direct2D (DWrite.dll kept from
  loading) a base face's text is drawn by GDI+, in its font's colour and
  as its para aligns it;
- tests/gui/native-batch.mox: faces moved, sized and hidden together by
  one show land where their faces say, moved in one DeferWindowPos batch
  per parent window (Wine's own trace of the calls); a resized slider's
  range is its new length; after a DPI change (WM_DPICHANGED sent by
  widget-probe) the children are laid out again at the new scale, in
  deferred batches.

    native_check.py MOX-RUN WIN-PROBE WIDGET-PROBE [EMULATOR]

Shares the display, program and probe helpers of gui_check.py.
"""
import ctypes
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import gui_check as gc  # noqa: E402

check = gc.check


class Program(gc.Program):
    """gc.Program without Wine's own diagnostics among the printed lines,
    run with extra environment variables."""

    def __init__(self, command, env):
        full = dict(os.environ)
        full.update(env)
        self.proc = subprocess.Popen(command, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                     env=full)
        self.lines = gc.queue.Queue()
        self.seen = []
        self.ended = False
        gc.threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            if not line.startswith("wine: ") and not re.match(r"^[0-9a-f]{4}:", line):
                self.lines.put(line)
        self.lines.put(None)


def find_window(name):
    for _ in range(100):
        if gc.xdotool("search", "--name", name).split():
            return True
        time.sleep(0.2)
    return False


def children(emulator, win_probe, title):
    """win-probe's children of a window: text (or class) -> rect, screen
    centre, style."""
    out = subprocess.run(emulator + [win_probe, title], capture_output=True, text=True,
                         timeout=120).stdout
    found = {}
    for line in out.splitlines():
        f = line.split()
        if f and f[0] == "child":
            text = line.split(" text ", 1)[1] if " text " in line else ""
            found.setdefault(text or f[2], dict(
                cls=f[2], rect=tuple(int(v) for v in f[3:7]),
                center=(int(f[8]), int(f[9])), style=int(f[11], 16)))
    return found


def finish(program):
    if program.proc.poll() is None:
        program.proc.kill()
        program.proc.wait()


GID_BEGIN, GID_END, GID_ZOOM, GID_PAN, GID_ROTATE, GID_TWO_TAP, GID_PRESS_TAP = 1, 2, 3, 4, 5, 6, 7


def presses(program, win_probe, emulator):
    """Real presses on the list: on its first item, then below its last."""
    found = children(emulator, win_probe, "Mox native check").get("list")
    check(found is not None and found["cls"] == "MoxListBox", "the list has a window (got %r)"
          % (found,))
    if not found:
        return
    _, _, w, h = found["rect"]
    x, y = found["center"][0] - w // 2, found["center"][1] - h // 2
    for at, picked in [((x + 10, y + 6), "1"), ((x + 10, y + h - 8), "none")]:
        gc.click(at)
        line = program.expect_any()
        m = re.match(r'^down "list" \((\d+), (\d+)\) (\S+)$', line or "")
        check(m is not None and m.group(3) == picked,
              "a press at %r on the list picks %s (got %r)" % (at, picked, line))


def events(mox_run, win_probe, widget_probe, emulator):
    program = Program(emulator + [mox_run, os.path.join(HERE, "native-events.mox")],
                      {"MOX_TEST_PACKED_GESTURES": "1"})
    try:
        # A press picks an item of a list only; a double click is a press
        # first.
        for line in ['alt-down "pad" (5, 5) none', 'mid-down "pad" (5, 5) none',
                     'aux-down "pad" (5, 5) none', 'down "pad" (5, 5) none',
                     'down "pad" (5, 5) none', 'dbl-click "pad" (5, 5) none', "held up", "ready"]:
            program.expect(line)
        if not find_window("Mox native check"):
            check(False, "xdotool finds the native check window")
            return
        out = subprocess.run(emulator + [widget_probe, "Mox native check"], capture_output=True,
                             text=True, timeout=120).stdout
        BST_PUSHED = 4
        states = [int(l.split()[2]) for l in out.splitlines() if l.startswith("button ")]
        check(len(states) == 1 and not states[0] & BST_PUSHED,
              "the button whose release disabled its panel is not left pushed (got %r)" % states)
        # A key pressed while an input method composes is the method's: no
        # special key, only its code.
        subprocess.run(emulator + [widget_probe, "Mox native check", "ime", "20", "20"],
                       capture_output=True, timeout=120)
        program.expect('key-down #"%"')
        program.expect("key-down left")
        presses(program, win_probe, emulator)
        # Gesture steps at points of the window's client area: on the pad
        # (at 10x10) or on no child (the window itself). Zoom picks the
        # ratio to the step before, none on a gesture's first step.
        table = [
            (GID_BEGIN, 30, 25, 0, None),
            (GID_ZOOM, 30, 25, 100, 'zoom "pad" (20, 15) none'),
            (GID_ZOOM, 30, 25, 150, 'zoom "pad" (20, 15) 150%'),
            (GID_ZOOM, 31, 25, 120, 'zoom "pad" (21, 15) 80%'),
            (GID_END, 30, 25, 0, None),
            (GID_BEGIN, 200, 140, 0, None),
            (GID_ZOOM, 200, 140, 90, 'zoom "Mox native check" (200, 140) none'),
            (GID_END, 200, 140, 0, None),
            (GID_PAN, 40, 30, 7, 'pan "pad" (30, 20) 7'),
            (GID_ROTATE, 40, 30, 12345, 'rotate "pad" (30, 20) 12345'),
            (GID_TWO_TAP, 200, 140, 40, 'two-tap "Mox native check" (200, 140) 40'),
            (GID_PRESS_TAP, 40, 30, 3, 'press-tap "pad" (30, 20) 3'),
        ]
        args = []
        for gid, x, y, arg, _ in table:
            args += [str(gid), str(x), str(y), str(arg)]
        subprocess.run(emulator + [widget_probe, "Mox native check", "gesture"] + args,
                       capture_output=True, timeout=120)
        for row in table:
            if row[4]:
                program.expect(row[4])
        program.expect("end")
        gc.ends_cleanly(program)
    finally:
        finish(program)


def failures(mox_run, emulator):
    program = Program(emulator + [mox_run, os.path.join(HERE, "native-failures.mox")],
                      {"MOX_TEST_FAIL_CALL": "GetClassInfoEx:BUTTON"})
    try:
        # The button's window is asked for twice (by the window's show and
        # by the view of the window), and refused each time.
        for line in ["*** Error in GetClassInfoEx", "*** View Error: CreateWindowEx failed!",
                     "*** View Error: CreateWindowEx failed!", "button none field true",
                     "update true pending 65544", "end"]:
            program.expect(line)
        gc.ends_cleanly(program)
    finally:
        finish(program)


def region(x, y, w, h):
    """The X screen's pixels of a rectangle, rows of (r, g, b)."""
    x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XGetImage.restype = ctypes.c_void_p
    x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                              ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    x11.XGetPixel.restype = ctypes.c_ulong
    x11.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
    x11.XDestroyImage.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    image = x11.XGetImage(display, x11.XDefaultRootWindow(display), x, y, w, h,
                          0xFFFFFFFF, 2)  # ZPixmap
    rows = []
    if image:
        for j in range(h):
            row = []
            for i in range(w):
                v = x11.XGetPixel(image, i, j)
                row.append(((v >> 16) & 255, (v >> 8) & 255, v & 255))
            rows.append(row)
        x11.XDestroyImage(image)
    x11.XCloseDisplay(display)
    return rows


def gdiplus(mox_run, win_probe, emulator):
    program = Program(emulator + [mox_run, os.path.join(HERE, "native-gdiplus.mox")],
                      {"MOX_TEST_FAIL_CALL": "LoadLibrary:DWrite.dll"})
    try:
        program.expect("drawn 255.255.255.0")
        line = program.expect_any() or ""
        measured = re.match(r"measured (\S+) (\S+) (\S+) (\S+)$", line)
        check(measured is not None, "the sizes are printed (got %r)" % line)
        program.expect("ready")
        if not find_window("Mox text painter check"):
            check(False, "xdotool finds the GDI+ window")
            return
        face = children(emulator, win_probe, "Mox text painter check").get("MMMM")
        check(face is not None and face["cls"] == "MoxBase", "the base face has a window")
        if not face:
            return
        w, h = face["rect"][2], face["rect"][3]
        x0, y0 = face["center"][0] - w // 2, face["center"][1] - h // 2
        rows = []
        for _ in range(20):  # until the face is painted
            rows = region(x0, y0, w, h)
            if any(p != (255, 255, 255) for row in rows for p in row):
                break
            time.sleep(0.3)
        red = [(i, j) for j, row in enumerate(rows) for i, p in enumerate(row)
               if p[0] > 160 and p[1] < 100 and p[2] < 100]
        # Red on white, smoothed at the edges: (255, t, t).
        other = [p for row in rows for p in row
                 if p != (255, 255, 255) and not (p[0] > p[1] and abs(p[1] - p[2]) <= 8)]
        check(len(red) > 100, "the text is drawn in red (%d red pixels)" % len(red))
        check(not other, "nothing but the white face and the red text (%d other pixels: %r)"
              % (len(other), sorted(set(other))[:8]))
        if red:
            xs, ys = [p[0] for p in red], [p[1] for p in red]
            mid = ((min(xs) + max(xs)) / 2, (min(ys) + max(ys)) / 2)
            check(abs(mid[0] - w / 2) <= 4 and abs(mid[1] - h / 2) <= 4,
                  "the text is centred in the face (ink centre %r in %dx%d)" % (mid, w, h))
            check(max(xs) - min(xs) > 40, "four capitals of a 16-point font are wide (%d)"
                  % (max(xs) - min(xs)))
        # The narrow face's words are measured as the painter wraps them: one
        # word a line, within the face's width, as high as the lines drawn.
        wrapped = children(emulator, win_probe, "Mox text painter check").get("MM MM MM")
        check(measured is not None and wrapped is not None, "the wrapped face is measured and shown")
        if not (measured and wrapped):
            return
        width, height, word_w, word_h = (float(v) for v in measured.groups())
        check(word_w <= width <= wrapped["rect"][2] and 3 * word_h <= height + 1,
              "three lines within the face's width (all %gx%g, one word %gx%g)"
              % (width, height, word_w, word_h))
        w, h = wrapped["rect"][2], wrapped["rect"][3]
        rows = region(wrapped["center"][0] - w // 2, wrapped["center"][1] - h // 2, w, h)
        ink = [j for j, row in enumerate(rows) for p in row if p[0] > 160 and p[1] < 100]
        check(ink and height - word_h < max(ink) - min(ink) + 1 <= height,
              "the measured height holds the drawn lines and no more (ink rows %r, height %g)"
              % (ink and (min(ink), max(ink)), height))
        # The plain panel is erased in the button face colour; the panel with
        # a draw block is left to its drawing, which no device makes here.
        found = children(emulator, win_probe, "Mox text painter check")
        drawn, plain = found.get("drawn"), found.get("plain")
        check(drawn is not None and plain is not None, "both panels have windows")
        if drawn and plain:
            inside, erased = region(*drawn["center"], 1, 1)[0][0], region(*plain["center"], 1, 1)[0][0]
            check(inside != erased, "the drawing panel is not erased (%r, the erased one %r)"
                  % (inside, erased))
    finally:
        finish(program)


class Traced(Program):
    """A Program run with Wine's window trace on: the trace lines are kept,
    in order with the printed ones, apart from them."""

    def __init__(self, command):
        self.raw = []
        super().__init__(command, {"WINEDEBUG": "-all,trace+win"})

    def _read(self):
        for raw in self.proc.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            self.raw.append(line)
            if not line.startswith("wine: ") and not re.match(r"^[0-9a-f]{4}:", line):
                self.lines.put(line)
        self.lines.put(None)


def batches(lines):
    """The window positions deferred and the batches ended, in trace lines."""
    deferred = [l for l in lines if re.search(r":(NtUser)?DeferWindowPos(AndBand)? hdwp ", l)]
    ended = [l for l in lines if re.search(r":(NtUser)?EndDeferWindowPos(Ex)? 0x[0-9a-f]+$", l)]
    return deferred, ended


def batch(mox_run, win_probe, widget_probe, emulator):
    program = Traced(emulator + [mox_run, os.path.join(HERE, "native-batch.mox")])
    try:
        program.expect("shown")
        program.expect("moved")
        # What the one show did, in Wine's words: the panel's two children
        # in one batch, the window's three in another.
        raw = list(program.raw)
        lines = raw[raw.index("shown"):raw.index("moved")] if "moved" in raw else []
        deferred, ended = batches(lines)
        check(len(deferred) == 5 and len(ended) == 2,
              "five positions deferred in two batches (got %d, %d)" % (len(deferred), len(ended)))
        if not find_window("Mox batch check"):
            check(False, "xdotool finds the batch window")
            return
        found = children(emulator, win_probe, "Mox batch check")
        WS_VISIBLE = 0x10000000
        for key, rect in [("One", (20, 50, 60, 24)), ("Two", (90, 50, 100, 30)),
                          ("Four", (100, 120, 50, 20))]:
            c = found.get(key)
            check(c is not None and c["rect"] == rect, "%s at %r (got %r)"
                  % (key, rect, c and c["rect"]))
        three = found.get("Three")
        check(three is not None and not three["style"] & WS_VISIBLE,
              "Three is hidden (got %r)" % three)
        out = subprocess.run(emulator + [widget_probe, "Mox batch check"],
                             capture_output=True, text=True, timeout=120).stdout
        sliders = [l for l in out.splitlines() if l.startswith("slider ")]
        check(sliders == ["slider MoxSlider 200 100"],
              "the slider's range is its new length, its position the data on it (got %r)"
              % sliders)
        # The window goes to a display of 144 DPI: every child is laid out
        # again at one and a half times its size, each through a deferred
        # position (the panel, its two buttons and the window's other
        # four), none by a move of its own; the group box's frame, a child
        # of the box, is sized with it.
        moved_at = len(program.raw)
        subprocess.run(emulator + [widget_probe, "Mox batch check", "dpi", "144",
                                   "90", "90", "372", "282"], capture_output=True, timeout=120)
        found = children(emulator, win_probe, "Mox batch check")
        for key, rect in [("One", (30, 75, 90, 36)), ("Two", (135, 75, 150, 45)),
                          ("Four", (150, 180, 75, 30))]:
            c = found.get(key)
            check(c is not None and c["rect"] == rect, "%s at %r at 144 DPI (got %r)"
                  % (key, rect, c and c["rect"]))
        deferred, ended = batches(program.raw[moved_at:])
        moved_alone = [l for l in program.raw[moved_at:]
                       if re.search(r":(NtUser)?SetWindowPos hwnd ", l)]
        check(len(deferred) == 7 and len(ended) >= 2,
              "seven positions deferred at the new DPI (got %d in %d batches; %d moved alone)"
              % (len(deferred), len(ended), len(moved_alone)))
        out = subprocess.run(emulator + [win_probe, "Mox batch check"], capture_output=True,
                             text=True, timeout=120).stdout
        frames = [tuple(int(v) for v in l.split()[3:7]) for l in out.splitlines()
                  if l.split()[:3] == ["child", "2", "Button"]]
        check(frames == [(0, 0, 90, 45)], "the group box's frame is 90x45 at 144 DPI (got %r)"
              % frames)
    finally:
        finish(program)


def main():
    mox_run, win_probe, widget_probe = sys.argv[1:4]
    emulator = sys.argv[4:]
    xvfb = gc.start_display()
    try:
        events(mox_run, win_probe, widget_probe, emulator)
        failures(mox_run, emulator)
        gdiplus(mox_run, win_probe, emulator)
        batch(mox_run, win_probe, widget_probe, emulator)
    finally:
        if xvfb:
            xvfb.terminate()


if __name__ == "__main__":
    main()
    sys.exit(1 if gc.failures else 0)
