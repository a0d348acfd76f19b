#!/usr/bin/env python3
"""The View engine's dispatch and VID tables on real windows under Wine.

Runs the tests/gui/view-rows-*.mox scripts under mox-run.exe. Each script
asks for the input it needs and says what it expects, one line at a time:

    click TITLE X Y       a left click at X Y in TITLE's client area
    press TITLE X Y       the pointer to X Y in TITLE's client area, then the
                          left button down (move: no button; release: up)
    key KEY...            xdotool keys to the focused window
    type TEXT             xdotool typing
    close TITLE           TITLE's close box (the X window manager's close
                          request, as a title bar's box sends it)
    row<TAB>NAME<TAB>EXPECTED<TAB>GOT
                          a table row: the native table's value and this one
    probe TITLE           what Win32 knows of TITLE's windows, held against
                          the lines that follow up to "end-probe":
      face DEPTH X Y W H VISIBLE ENABLED CHECK<TAB>TEXT
                          a face's offset, size (H "-": any height),
                          visible?, enabled?, data (check state for
                          buttons, - otherwise) and text
      focus TEXT          the face the keyboard focus should be in
      pixel X Y R G B     the colour at X Y of TITLE's client area on a grab
                          of the X screen (xwd), within a small tolerance
      extent DEPTH X Y W H PW<TAB>TEXT
                          a text-sized face (found by its rectangle): its
                          width W is TEXT's extent, measured by GDI in the
                          message font in another process, plus PW (the
                          paddings and margins the VID sizing rule adds),
                          within a unit
    exists TITLE yes|no   whether a top-level window of that title is there
    await-window TITLE    waits until that window shows
    screen W H            the screen's size as the X server has it
    sync N                the driver has done everything asked before: it
                          makes the file N in the folder MOX_ROWS_SYNC names,
                          which the script waits for before it goes on
    end                   the script is done

    view_rows_check.py MOX-RUN WIN-PROBE [EMULATOR]

Shares gui_check.py's display, program, xdotool and probe helpers. Every
wait is a guard against a hang, not a measurement.
"""
import ctypes
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import gui_check as gc  # noqa: E402

check = gc.check
SCRIPTS = ["view-rows-dispatch.mox", "view-rows-builtins.mox", "view-rows-layout.mox"]


class Program(gc.Program):
    """gc.Program without Wine's own diagnostics among the printed lines."""

    def _read(self):
        for raw in self.proc.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            if not line.startswith("wine: ") and "fixme:" not in line:
                self.lines.put(line)
        self.lines.put(None)


def find_window(name):
    for _ in range(100):
        found = gc.xdotool("search", "--name", "^%s$" % name).split()
        if found:
            return int(found[-1])
        time.sleep(0.2)
    return None


def close_box(xid):
    """Sends the X window WM_DELETE_WINDOW, which a window manager sends
    when its title bar's close box is clicked."""
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5),
                    ("pad", ctypes.c_long * 12)]
    display = x11.XOpenDisplay(None)
    ev = ClientMessage()
    ev.type = 33  # ClientMessage
    ev.window = xid
    ev.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    ev.format = 32
    ev.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    ev.data[1] = 0  # CurrentTime
    x11.XSendEvent(display, xid, 0, 0, ctypes.byref(ev))
    x11.XFlush(display)
    x11.XCloseDisplay(display)


def grab_screen():
    """The whole X screen through xwd: a function from (x, y) to (r, g, b)."""
    with tempfile.NamedTemporaryFile(suffix=".xwd") as f:
        subprocess.run(["xwd", "-root", "-silent", "-out", f.name], check=True, timeout=60)
        data = open(f.name, "rb").read()

    def u32(i):
        return int.from_bytes(data[i * 4:i * 4 + 4], "big")
    header_size, bits, line = u32(0), u32(11), u32(12)
    byte_order, ncolors = u32(7), u32(19)
    red_mask, green_mask, blue_mask = u32(14), u32(15), u32(16)
    start = header_size + ncolors * 12
    step = bits // 8

    def shift(mask):
        return (mask & -mask).bit_length() - 1

    def pixel(x, y):
        i = start + y * line + x * step
        v = int.from_bytes(data[i:i + step], "big" if byte_order else "little")
        return tuple((v & m) >> shift(m) for m in (red_mask, green_mask, blue_mask))
    return pixel


def probe(emulator, win_probe, title, texts=()):
    out = subprocess.run(emulator + [win_probe, title] + list(texts), capture_output=True,
                         text=True, timeout=120).stdout
    window, children, focus, measures = None, [], None, {}
    for line in out.splitlines():
        f = line.split()
        if f and f[0] == "window":
            window = dict(rect=tuple(int(v) for v in f[1:5]), client=(int(f[6]), int(f[7])),
                          origin=(int(f[9]), int(f[10])), dpi=int(f[12]),
                          style=int(f[14], 16) if len(f) > 14 else 0)
        elif f and f[0] == "child":
            text = line.split(" text ", 1)[1] if " text " in line else ""
            children.append(dict(depth=int(f[1]), cls=f[2], rect=tuple(int(v) for v in f[3:7]),
                                 style=int(f[11], 16), check=int(f[15]),
                                 extent=(int(f[17]), int(f[18])), text=text))
        elif f and f[0] == "focus":
            focus = line.split(" text ", 1)[1] if " text " in line else ""
        elif f and f[0] == "measure":
            measures[line.split(" ", 3)[3] if len(f) > 3 else ""] = (int(f[1]), int(f[2]))
    return window, children, focus, measures


WS_VISIBLE, WS_DISABLED = 0x10000000, 0x08000000


def number(text):
    """A coordinate as the script printed it (offsets may be point2D!
    values, 10.0): as an int when whole, so that 10.5 matches no window."""
    v = float(text)
    return int(v) if v.is_integer() else v


class Driver:
    def __init__(self, mox_run, win_probe, emulator):
        self.mox_run, self.win_probe, self.emulator = mox_run, win_probe, emulator
        self.origins = {}
        self.last_click = 0.0

    def origin(self, title):
        if title not in self.origins:
            if not find_window(title):
                return None
            window = probe(self.emulator, self.win_probe, title)[0]
            if window is None:
                return None
            self.origins[title] = window["origin"]
        return self.origins[title]

    def run(self, script):
        self.sync = tempfile.mkdtemp(prefix="mox-rows-")
        os.environ["MOX_ROWS_SYNC"] = "/Z" + self.sync + "/"
        program = Program(self.emulator + [self.mox_run, os.path.join(HERE, script)])
        self.origins = {}
        ended = False
        try:
            while True:
                line = program.expect_any()
                if line is None:
                    break
                if line == "end":
                    ended = True
                    break
                self.step(program, line)
        finally:
            check(ended, "%s runs to its end (last lines %r)" % (script, program.seen[-3:]))
            if ended:
                gc.ends_cleanly(program)
            elif program.proc.poll() is None:
                program.proc.kill()
            shutil.rmtree(self.sync, ignore_errors=True)

    def step(self, program, line):
        if line.startswith("row\t"):
            _, name, expected, got = (line.split("\t") + ["", "", ""])[:4]
            check(expected == got, "%s: %s (got %s)" % (name, expected, got))
        elif line.startswith("click "):
            title, x, y = line[6:].rsplit(" ", 2)
            at = self.origin(title)
            if at is None:
                check(False, "%s has a window to click in" % title)
            else:
                # Two clicks closer than the double-click time make the
                # second a double click, whose down cannot be stopped.
                time.sleep(max(0.0, self.last_click + 0.8 - time.monotonic()))
                gc.click((at[0] + int(x), at[1] + int(y)))
                self.last_click = time.monotonic()
        elif line.split(" ", 1)[0] in ("press", "move", "release"):
            verb, rest = line.split(" ", 1)
            title, x, y = rest.rsplit(" ", 2)
            at = self.origin(title)
            if at is None:
                check(False, "%s has a window to drag in" % title)
            else:
                time.sleep(max(0.0, self.last_click + 0.8 - time.monotonic()))
                gc.xdotool("mousemove", at[0] + int(x), at[1] + int(y))
                time.sleep(0.3)
                if verb != "move":
                    gc.xdotool("mousedown" if verb == "press" else "mouseup", "1")
                    time.sleep(0.3)
                    self.last_click = time.monotonic()
        elif line.startswith("key "):
            time.sleep(0.2)
            for key in line[4:].split():
                gc.xdotool("key", key)
                time.sleep(0.1)
        elif line.startswith("type "):
            time.sleep(0.2)
            gc.xdotool("type", "--delay", "80", line[5:])
        elif line.startswith("close "):
            xid = find_window(line[6:])
            check(xid is not None, "the window %r is there to close" % line[6:])
            if xid:
                time.sleep(0.3)
                close_box(xid)
        elif line.startswith("screen "):
            size = tuple(int(number(v)) for v in line.split()[1:3])
            got = tuple(int(v) for v in gc.xdotool("getdisplaygeometry").split())
            check(size == got, "the screen is %r as X has it (got %r)" % (size, got))
        elif line.startswith("await-window "):
            xid = find_window(line[13:])
            check(xid is not None, "the window %r shows" % line[13:])
            if xid:
                time.sleep(0.5)
                gc.xdotool("windowfocus", xid)
        elif line.startswith("sync "):
            open(os.path.join(self.sync, line[5:]), "w").close()
        elif line.startswith("exists "):
            title, wanted = line[7:].rsplit(" ", 1)
            out = subprocess.run(self.emulator + [self.win_probe, title], capture_output=True,
                                 text=True, timeout=120).stdout
            check(out.startswith("window") == (wanted == "yes"),
                  "a window %r is %sthere" % (title, "" if wanted == "yes" else "not "))
        elif line.startswith("probe "):
            title = line[6:]
            wanted = []
            while True:
                w = program.expect_any()
                if w is None or w == "end-probe":
                    break
                wanted.append(w)
            self.hold(title, wanted)

    def hold(self, title, wanted):
        """Holds the faces a script described against Win32's windows."""
        if not find_window(title):
            check(False, "the window %r shows" % title)
            return
        texts = [w.partition("\t")[2] for w in wanted if w.startswith("extent ")]
        window, children, focus, measures = probe(self.emulator, self.win_probe, title, texts)
        if window is None:
            check(False, "win-probe finds %r" % title)
            return
        check(window["dpi"] == 96, "%s: 96 dpi (got %r)" % (title, window["dpi"]))
        free = list(children)
        screen = None
        for w in wanted:
            head, _, text = w.partition("\t")
            f = head.split()
            if f[0] == "window":
                # window X Y W H: the outer origin and the client size
                x, y, cw, ch = (number(v) for v in f[1:5])
                check(window["rect"][:2] == (x, y) and window["client"] == (cw, ch),
                      "%s: window at %sx%s with a %sx%s client (got %r, %r)"
                      % (title, x, y, cw, ch, window["rect"][:2], window["client"]))
            elif f[0] == "face":
                depth = int(f[1])
                x, y, wd = (number(v) for v in f[2:5])
                ht = None if f[5] == "-" else number(f[5])
                visible, enabled, state = f[6] == "true", f[7] == "true", f[8]
                same = [c for c in free if c["depth"] == depth and c["rect"][:3] == (x, y, wd)
                        and (ht is None or c["rect"][3] == ht)
                        and (not text or c["text"] == text)]
                what = "%s: %r at depth %d, %sx%s %sx%s" % (title, text or "face", depth, x, y,
                                                               wd, "-" if ht is None else ht)
                if not same:
                    near = [(c["cls"], c["rect"], c["text"]) for c in free
                            if c["depth"] == depth]
                    check(False, what + " has its window (windows there: %r)" % near[:6])
                    continue
                # Faces alike in place and text (a tab panel's pages) are
                # told apart by their state.
                same.sort(key=lambda c: (bool(c["style"] & WS_VISIBLE) != visible,
                                         bool(c["style"] & WS_DISABLED) == enabled))
                c = same[0]
                free.remove(c)
                check(bool(c["style"] & WS_VISIBLE) == visible,
                      what + " is %svisible" % ("" if visible else "not "))
                check(bool(c["style"] & WS_DISABLED) != enabled,
                      what + " is %senabled" % ("" if enabled else "not "))
                if state != "-":
                    check(c["check"] == int(state), what + " is checked %s (got %d)"
                          % (state, c["check"]))
            elif f[0] == "focus":
                check(focus == text, "%s: the focus is in %r (got %r)" % (title, text, focus))
            elif f[0] == "extent":
                depth = int(f[1])
                rect = tuple(number(v) for v in f[2:6])
                pw = number(f[6])
                c = next((c for c in children if c["depth"] == depth
                          and c["rect"][:3] == rect[:3]), None)
                ew = measures.get(text, (0, 0))[0]
                check(c is not None and ew > 0 and abs(rect[2] - (ew + pw)) <= 1,
                      "%s: the face of %r is %s wide: the text's %d in the message font plus %s"
                      " (its window %r)" % (title, text, rect[2], ew, pw, c and c["rect"]))
            elif f[0] == "pixel":
                if screen is None:
                    time.sleep(0.5)
                    screen = grab_screen()
                x, y, r, g, b = (int(number(v)) for v in f[1:6])
                got = screen(window["origin"][0] + x, window["origin"][1] + y)
                check(all(abs(a - e) <= 8 for a, e in zip(got, (r, g, b))),
                      "%s: %d.%d.%d at %dx%d (got %r)" % (title, r, g, b, x, y, got))


def main():
    mox_run, win_probe = sys.argv[1], sys.argv[2]
    emulator = sys.argv[3:]
    xvfb = gc.start_display()
    try:
        driver = Driver(mox_run, win_probe, emulator)
        only = os.environ.get("MOX_GUI_ONLY")
        for script in SCRIPTS:
            if only and not any(o in script for o in only.split(",")):
                continue
            driver.run(script)
    finally:
        if xvfb:
            xvfb.kill()


if __name__ == "__main__":
    main()
    sys.exit(1 if gc.failures else 0)
