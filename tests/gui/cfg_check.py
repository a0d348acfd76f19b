#!/usr/bin/env python3
"""The GUI console's configuration file under Wine, through real starts and quits.

Each case writes (or removes) console-cfg.mox in the prefix's
AppData/Roaming/Mox/Mox-Console/, starts mox.exe with MOX_CONSOLE_LOG, waits
for the first prompt in the terminal's state log, types with xdotool and
reads the file the quit leaves. The expected files are written out here by
hand, in the layout the console's save writes: a header block holding the
Purpose, an empty line, then one key and value a line.

- a first quit writes the eleven keys in order;
- a stored size opens a window of that size, and a stored position that is
  a pair is replaced by the default;
- a window sized by X and moved to a negative x is saved as its size at
  x 0, and opens at that size again;
- menu-bar? false opens the window without its menu strip;
- damaged files (unloadable text, history: 5, buffer-lines: "x",
  font-size: 0, a key with nothing after it) start the console normally
  and are written back repaired;
- 150 history entries are written as the 100 newest, an unknown key kept;
- a folder in the file's place: quit/return keeps its status;
- Alt+O opens the Settings dialog;
- by the mouse: Options > Settings... with the colour box #002b36, then
  Cancel (the file keeps its background) or OK (it holds 0.43.54); the
  console's pixels take the clicked colour either way; the group boxes'
  insides show the dialog's own background; Dark Mode is greyed and a click
  on it changes nothing (Wine has no dark mode); Buffer Lines 500 is kept
  by OK, "abc" and 0 leave 10000; with mouse-paste? true the right button
  brings no context menu, and unchecking Mouse Copy&Paste brings it back at
  once; Help > Keyboard Shortcuts
  prints the list; Help > About opens a 360x330 window that its Close
  button closes;
- Options > Choose Font...: only fixed-width families are offered; DejaVu
  Sans Mono 14 and OK gives taller and wider rows and is saved; Cancel
  keeps the font and the file;
- File > Run... with a path typed into the open dialog runs the script in
  the console, its "do" line in the history and in the file;
- q and File > Quit write the file; a script that prints nothing writes
  none.
The console is closed by its close box (Alt+F4) where no typing is needed.

    cfg_check.py MOX-EXE [EMULATOR...]

Needs an X display: the one in DISPLAY, else an Xvfb of its own. Every wait
is a guard against a hang, not a measurement.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import console_check  # noqa: E402  (its log, window and start helpers)
import draw_check  # noqa: E402  (its screen grab)
import gui_check  # noqa: E402  (its display and xdotool helpers)

check = gui_check.check
xdotool = gui_check.xdotool
HEADER = 'Mox [\n\tPurpose: "Mox Console Configuration File"\n]\n\n'


def cfg_file():
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    user = os.environ.get("USER") or "root"
    return os.path.join(prefix, "drive_c", "users", user, "AppData", "Roaming", "Mox",
                        "Mox-Console", "console-cfg.mox")


def place(text):
    """Puts the file in place: a text, None for no file, or a folder."""
    path = cfg_file()
    if os.path.isdir(path):
        shutil.rmtree(path)
    elif os.path.exists(path):
        os.remove(path)
    if text is None:
        return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if text is os.sep:
        os.mkdir(path)
    else:
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)


def read_cfg():
    try:
        with open(cfg_file(), encoding="utf-8") as f:
            return f.read()
    except OSError:
        return None


DEFAULTS = [("win-pos", "(200, 200)"), ("win-size", "640x480"), ("font-name", '"Consolas"'),
            ("font-size", "11"), ("font-color", "0.0.0"), ("background", "252.252.252"),
            ("mouse-paste?", "false"), ("menu-bar?", "true"), ("dark-mode?", "no"),
            ("buffer-lines", "10000"), ("history", "[]")]


def expected(first=(), changed=None):
    """The saved file: the keys the file had first, then the missing ones in
    their own order, each with its default unless changed."""
    values = dict(DEFAULTS, **(changed or {}))
    order = list(first) + [k for k, _ in DEFAULTS if k not in first]
    return HEADER + "\n".join("%s: %s" % (k, values[k]) for k in order)


class Console:
    """One start of mox.exe up to its first prompt, with the pointer on it."""

    def __init__(self, mox_exe, emulator, folder, name):
        self.log = os.path.join(folder, name + ".log")
        if os.path.exists(self.log):
            os.remove(self.log)
        # The program opens the log by its Windows name (Wine's Z: drive).
        env = dict(os.environ, MOX_CONSOLE_LOG="Z:" + self.log.replace("/", "\\"))
        self.proc = subprocess.Popen(emulator + [mox_exe], env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        self.first = console_check.wait_for(self.log, lambda r: r["event"] == "ask",
                                            "%s: the first prompt" % name)
        self.window = console_check.find_window() if self.first else None
        if self.window:
            console_check.point_at(self.window)
            xdotool("click", "1")
            time.sleep(0.3)

    def typing_works(self):
        """Types 1 + 2 and tells whether the console answered it."""
        if not self.window:
            return False
        mark = console_check.last_counter(self.log)
        xdotool("type", "--delay", "60", "1 + 2")
        xdotool("key", "Return")
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            for r in console_check.records(self.log):
                if r["counter"] > mark and r["event"] == "ask" and "== 3" in r["lines"]:
                    return True
            time.sleep(0.2)
        return False

    def end(self, plain=True):
        """The exit status; plain: the console was told to quit without a
        status of its own."""
        got = console_check.quit_status(self.proc, self.log) if plain else console_check.status(self.proc)
        if self.proc.poll() is None:
            self.proc.kill()
        return got

    def close(self):
        """Closes the window by its close box (Alt+F4) and returns the exit status."""
        if self.window:
            xdotool("key", "alt+F4")
        return self.end()

    def quit(self, line):
        """Types the line that quits and returns the exit status."""
        if self.window:
            xdotool("type", "--delay", "60", line)
            xdotool("key", "Return")
        return self.end(plain="/return" not in line)


def closes(c, what):
    got = c.close()
    check(got == 0, "%s (got %r)" % (what, got))


def first_quit(mox_exe, emulator, folder):
    place(None)
    c = Console(mox_exe, emulator, folder, "first")
    check(c.first is not None and c.first["size"] == "641x481",
          "with no file the console opens 640x480 (log size %r)" % (c.first or {}).get("size"))
    closes(c, "the close box ends with status 0")
    got = read_cfg()
    check(got == expected(), "the first quit writes the keys in order (got %r)" % got)


def stored_size(mox_exe, emulator, folder):
    place(HEADER + "win-pos: 100x100\nwin-size: 800x600\n")
    c = Console(mox_exe, emulator, folder, "size")
    check(c.first is not None and c.first["size"] == "801x601",
          "a stored 800x600 opens an 800x600 console (log size %r)" % (c.first or {}).get("size"))
    closes(c, "the close box ends with status 0")
    got = read_cfg()
    check(got == expected(changed={"win-size": "800x600"}),
          "a pair as win-pos gives the default place; the size is kept (got %r)" % got)


def moved_and_resized(mox_exe, emulator, folder):
    """A window sized by X to a 900x700 client and moved to a negative x is
    saved as 900x700 at x 0, and opens at that size again."""
    place(None)
    c = Console(mox_exe, emulator, folder, "moved")
    if c.window:
        # The X window holds the client and the 19-pixel menu strip.
        xdotool("windowsize", c.window, "900", "719")
        time.sleep(1)
        xdotool("windowmove", c.window, "-50", "150")
        time.sleep(1)
    closes(c, "the close box ends with status 0")
    got = read_cfg() or ""
    pos = [line for line in got.splitlines() if line.startswith("win-pos: ")]
    check("\nwin-size: 900x700\n" in got and len(pos) == 1 and pos[0].startswith("win-pos: (0, "),
          "the size is saved as 900x700 and a negative x as 0 (got %r)" % got[:160])
    c = Console(mox_exe, emulator, folder, "restored")
    if c.window:
        _, _, w, h = console_check.geometry(c.window)
        check((w, h) == (900, 719), "the saved size opens a 900x700 console (X window %dx%d)"
              % (w, h))
    closes(c, "the close box ends with status 0")


def no_menu_bar(mox_exe, emulator, folder):
    """menu-bar? false: the window has no menu strip above the console."""
    place(HEADER + "menu-bar?: false\n")
    c = Console(mox_exe, emulator, folder, "menu")
    if c.window:
        x, y, w, h = console_check.geometry(c.window)
        pixel = draw_check.grab()
        top = pixel(x + MENU_OPTIONS[0], y + MENU_OPTIONS[1])
        check(h == 480 and top == (252, 252, 252), "menu-bar? false: the console fills the "
              "window from its top (height %d, pixel %r where the menu would be)" % (h, top))
    closes(c, "the close box ends with status 0")
    got = read_cfg()
    check(got == expected(["menu-bar?"], {"menu-bar?": "false"}),
          "menu-bar? false is kept (got %r)" % got)


def damaged(mox_exe, emulator, folder):
    cases = [
        ("unloadable", HEADER + 'win-size: 800x600 "no end\n', expected()),
        ("history 5", HEADER + "history: 5\n", expected(["history"])),
        ("buffer-lines text", HEADER + 'buffer-lines: "x"\n', expected(["buffer-lines"])),
        ("font-size 0", HEADER + "font-size: 0\n", expected(["font-size"])),
        ("key at the end", HEADER + "font-size: 12\nwin-size:",
         expected(["font-size", "win-size"], {"font-size": "12"})),
    ]
    for name, text, want in cases:
        place(text)
        c = Console(mox_exe, emulator, folder, "damaged")
        check(c.first is not None and c.first["lines"][-1] == ">> ",
              "%s: the console starts and prompts" % name)
        closes(c, "%s: the close box ends with status 0" % name)
        got = read_cfg()
        check(got == want, "%s: the file is written back repaired (got %r)" % (name, got))


def history_and_unknown(mox_exe, emulator, folder):
    entries = " ".join('"%d"' % i for i in range(150, 0, -1))
    place(HEADER + "foo: 1\nhistory: [%s]\n" % entries)
    c = Console(mox_exe, emulator, folder, "history")
    check(c.first is not None, "150 history entries: the console starts")
    closes(c, "the close box ends with status 0")
    got = read_cfg() or ""
    kept = " ".join('"%d"' % i for i in range(150, 50, -1))
    check(got.startswith(HEADER + "foo: 1\nhistory: [%s]\n" % kept),
          "the 100 newest entries are written, foo kept in its place (got %r)" % got[:160])


def typed(mox_exe, emulator, folder):
    """What needs keys typed into the console: a folder in the file's place
    with quit/return, and Alt+O."""
    place(os.sep)
    c = Console(mox_exe, emulator, folder, "folder")
    check(c.first is not None, "a folder in the file's place: the console starts")
    works = c.typing_works()
    check(works, "typed keys reach the console")
    if works:
        check(c.quit("quit/return 5") == 5, "quit/return 5 keeps its status when nothing can be saved")
    else:
        closes(c, "the close box keeps status 0 when nothing can be saved")
    check(os.path.isdir(cfg_file()), "the folder is left alone")
    place(None)
    if not works:
        return
    c = Console(mox_exe, emulator, folder, "settings")
    xdotool("key", "alt+o")
    found = ""
    deadline = time.monotonic() + console_check.WAIT
    while not found and time.monotonic() < deadline:
        found = xdotool("search", "--onlyvisible", "--name", "^Settings$").strip()
        time.sleep(0.2)
    check(bool(found), "Alt+O opens the Settings dialog")
    if found:
        xdotool("key", "alt+F4")
        time.sleep(1)
        console_check.point_at(c.window)
    check(c.quit("quit") == 0, "quit after the dialog ends with status 0")
    got = read_cfg()
    # The typed quit is a line of the history like any other.
    check(got == expected(changed={"history": '["quit"]'}),
          "closing Settings changes nothing in the file (got %r)" % got)


def quits(mox_exe, emulator, folder):
    """Every way of quitting writes the file; a script that ends unseen
    writes none."""
    for name, act in [
        ("typed q", lambda c: c.quit("q")),
        ("File > Quit", None),
    ]:
        place(None)
        c = Console(mox_exe, emulator, folder, "quits")
        if act:
            got = act(c)
        elif c.window:
            x, y, _, _ = console_check.geometry(c.window)
            click_at(x + MENU_FILE[0], y + MENU_FILE[1])
            click_at(x + MENU_FILE[0] + 20, y + ITEM_LAST)
            got = c.end()
        else:
            got = c.close()
        check(got == 0, "%s ends with status 0 (got %r)" % (name, got))
        text = read_cfg() or ""
        check(text.startswith(HEADER + "win-pos: (200, 200)\n"), "%s writes the file (got %r)"
              % (name, text[:120]))
    place(None)
    silent = os.path.join(folder, "silent.mox")
    with open(silent, "w") as f:
        f.write("Mox []\nx: 1 + 2\n")
    proc = subprocess.Popen(emulator + [mox_exe, console_check.windows_path(silent)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL)
    check(console_check.status(proc) == 0, "a silent script ends with status 0")
    check(read_cfg() is None, "a silent script writes no configuration file")


def click_at(x, y):
    xdotool("mousemove", x, y)
    time.sleep(0.3)
    xdotool("click", "1")
    time.sleep(0.5)


def wait_window(name, gone=False):
    deadline = time.monotonic() + console_check.WAIT
    while time.monotonic() < deadline:
        found = xdotool("search", "--onlyvisible", "--name", "^%s$" % name).split()
        if bool(found) != gone:
            return found[0] if found else True
        time.sleep(0.2)
    return None


# Places in the console window's X window (its menu bar on top, 19 pixels
# high) and in the dialogs' client areas, from their layouts.
MENU_OPTIONS, MENU_HELP = (60, 9), (112, 9)
ITEM_2, ITEM_LAST = 19 + 30, 60
BOX_002B36, OK, CANCEL = (63, 40), (131, 271), (205, 271)
BOX_GAP, DIALOG_MARGIN = (50, 40), (5, 5)
MOUSE_LABEL, DARK_LABEL, DARK_CHECK = (26, 176, 90, 194), (26, 208, 90, 226), (16, 217)
BUFFER_LINES, MOUSE_CHECK = (260, 185), (16, 185)
ABOUT_CLOSE = (185, 312)
MENU_FILE = (20, 9)
# In the font dialog: the third family (DejaVu Sans Mono; the list is
# sorted), the row below it, the size 14, and its buttons.
FONT_FAMILY_3, FONT_FAMILY_4, FONT_SIZE_14 = (80, 77), (20, 94, 150, 110), (325, 77)
FONT_OK, FONT_CANCEL = (430, 20), (430, 47)


def darkest(pixel, origin, rect):
    """The lowest grey level (mean of r, g and b) in a rectangle of a window."""
    ox, oy = origin
    x1, y1, x2, y2 = rect
    return min(sum(pixel(ox + i, oy + j)) // 3 for i in range(x1, x2) for j in range(y1, y2))


def console_pixel(pixel, window):
    """A pixel of the console face well below its text: its background."""
    x, y, w, h = console_check.geometry(window)
    return pixel(x + w // 2, y + h - 40)


def dialogs(mox_exe, emulator, folder):
    """The menus by the mouse: Settings with a colour box, Cancel and OK;
    Keyboard Shortcuts; About and its Close."""
    for button, background in [(CANCEL, "252.252.252"), (OK, "0.43.54")]:
        place(None)
        c = Console(mox_exe, emulator, folder, "settings")
        if not c.window:
            c.close()
            continue
        pixel = draw_check.grab()
        name = "OK" if button is OK else "Cancel"
        got = console_pixel(pixel, c.window)
        check(got == (252, 252, 252), "the console is drawn on 252.252.252 (got %r)" % (got,))
        x, y, _, _ = console_check.geometry(c.window)
        click_at(x + MENU_OPTIONS[0], y + MENU_OPTIONS[1])
        click_at(x + MENU_OPTIONS[0] + 20, y + ITEM_2)
        found = wait_window("Settings")
        check(found is not None, "Options > Settings... opens the Settings dialog")
        if found:
            dx, dy, dw, dh = console_check.geometry(found)
            check((dw, dh) == (346, 295), "the dialog is 346x295 (got %r)" % ((dw, dh),))
            time.sleep(0.5)
            inside = pixel(dx + BOX_GAP[0], dy + BOX_GAP[1])
            outside = pixel(dx + DIALOG_MARGIN[0], dy + DIALOG_MARGIN[1])
            check(inside == outside, "a group box's inside shows the dialog's background "
                  "(%r inside, %r outside)" % (inside, outside))
            mouse = darkest(pixel, (dx, dy), MOUSE_LABEL)
            dark = darkest(pixel, (dx, dy), DARK_LABEL)
            check(mouse < 60 and dark > 120, "Dark Mode is greyed out, Mouse Copy&Paste is not "
                  "(darkest grey %d and %d)" % (dark, mouse))
            # Disabled: the click reaches no handler, and OK stores nothing.
            click_at(dx + DARK_CHECK[0], dy + DARK_CHECK[1])
            click_at(dx + BOX_002B36[0], dy + BOX_002B36[1])
            click_at(dx + button[0], dy + button[1])
            check(wait_window("Settings", gone=True) is not None, "%s closes the dialog" % name)
            time.sleep(0.5)
            got = console_pixel(pixel, c.window)
            check(got == (0, 43, 54), "after the box #002b36 and %s the console is drawn on "
                  "0.43.54 (got %r)" % (name, got))
            if button is OK:
                # Zoom in and out again: the font changes twice, and the
                # chosen background stays.
                console_check.point_at(c.window)
                for wheel in ("4", "5"):
                    xdotool("keydown", "ctrl")
                    xdotool("click", wheel)
                    xdotool("keyup", "ctrl")
                    time.sleep(0.5)
                    got = console_pixel(pixel, c.window)
                    check(got == (0, 43, 54), "after OK and Ctrl+wheel the console is still "
                          "drawn on 0.43.54 (got %r)" % (got,))
        console_check.point_at(c.window)
        closes(c, "the close box ends with status 0")
        got = read_cfg()
        check(got == expected(changed={"background": background}),
              "after the box #002b36 and %s the file holds background %s (got %r)"
              % ("OK" if button is OK else "Cancel", background, got))

    place(None)
    c = Console(mox_exe, emulator, folder, "help")
    if c.window:
        x, y, _, _ = console_check.geometry(c.window)
        mark = console_check.last_counter(c.log)
        click_at(x + MENU_HELP[0], y + MENU_HELP[1])
        click_at(x + MENU_HELP[0] + 30, y + 19 + 10)
        r = console_check.wait_for(c.log, lambda r: r["event"] == "ask" and any(
            l.startswith("\t\tF12            Toggle menu bar") for l in r["lines"]),
            "Help > Keyboard Shortcuts prints the list", mark)
        if r:
            check("\t\tCtrl + C       Copy selected text" in r["lines"],
                  "the keys are padded to 15 characters")
        click_at(x + MENU_HELP[0], y + MENU_HELP[1])
        click_at(x + MENU_HELP[0] + 30, y + ITEM_LAST)
        found = wait_window("About")
        check(found is not None, "Help > About opens the About window")
        if found:
            ax, ay, aw, ah = console_check.geometry(found)
            # A window without a title bar keeps a one-pixel frame.
            check((aw - 2, ah - 2) == (360, 330), "About is 360x330 inside its frame (got %r)"
                  % ((aw, ah),))
            click_at(ax + ABOUT_CLOSE[0], ay + ABOUT_CLOSE[1])
            check(wait_window("About", gone=True) is not None, "Close closes About")
        console_check.point_at(c.window)
    closes(c, "the close box ends with status 0")


def buffer_lines(mox_exe, emulator, folder):
    """Settings' Buffer Lines: OK takes a count of at least one, else the
    old value stays."""
    for typed, kept in [("500", "500"), ("abc", "10000"), ("0", "10000")]:
        place(None)
        c = Console(mox_exe, emulator, folder, "buffer")
        if not c.window:
            c.close()
            continue
        x, y, _, _ = console_check.geometry(c.window)
        click_at(x + MENU_OPTIONS[0], y + MENU_OPTIONS[1])
        click_at(x + MENU_OPTIONS[0] + 20, y + ITEM_2)
        found = wait_window("Settings")
        check(found is not None, "Buffer Lines %r: Settings opens" % typed)
        if found:
            dx, dy, _, _ = console_check.geometry(found)
            click_at(dx + BUFFER_LINES[0], dy + BUFFER_LINES[1])
            xdotool("key", "End")
            xdotool("key", "--repeat", "8", "BackSpace")
            xdotool("type", "--delay", "60", typed)
            click_at(dx + OK[0], dy + OK[1])
            check(wait_window("Settings", gone=True) is not None,
                  "Buffer Lines %r: OK closes the dialog" % typed)
        console_check.point_at(c.window)
        closes(c, "the close box ends with status 0")
        got = read_cfg()
        check(got == expected(changed={"buffer-lines": kept}),
              "Buffer Lines %r and OK: the file holds buffer-lines %s (got %r)"
              % (typed, kept, got))


def context_menu_shown():
    """Right-clicks where the pointer is and tells whether a pop-up menu (a
    new top-level window) was mapped; Escape closes it."""
    def shown():
        return set(xdotool("search", "--onlyvisible", "--maxdepth", "1", "--name", "").split())
    before = shown()
    xdotool("click", "3")
    time.sleep(1.5)
    popped = bool(shown() - before)
    xdotool("key", "Escape")
    time.sleep(0.5)
    return popped


def mouse_mode(mox_exe, emulator, folder):
    """mouse-paste? true: the right button brings no context menu; Mouse
    Copy&Paste unchecked in Settings brings it back at once."""
    place(HEADER + "mouse-paste?: true\n")
    c = Console(mox_exe, emulator, folder, "mouse")
    if not c.window:
        c.close()
        return
    check(not context_menu_shown(), "mouse-paste? true: no context menu on the right button")
    x, y, _, _ = console_check.geometry(c.window)
    click_at(x + MENU_OPTIONS[0], y + MENU_OPTIONS[1])
    click_at(x + MENU_OPTIONS[0] + 20, y + ITEM_2)
    found = wait_window("Settings")
    check(found is not None, "mouse mode: Settings opens")
    if found:
        dx, dy, _, _ = console_check.geometry(found)
        click_at(dx + MOUSE_CHECK[0], dy + MOUSE_CHECK[1])
        click_at(dx + OK[0], dy + OK[1])
        wait_window("Settings", gone=True)
    console_check.point_at(c.window)
    check(context_menu_shown(), "Mouse Copy&Paste unchecked: the context menu is back")
    closes(c, "the close box ends with status 0")
    got = read_cfg()
    check(got == expected(["mouse-paste?"], {"mouse-paste?": "false"}),
          "the file holds mouse-paste? false (got %r)" % got)


def font_chooser(mox_exe, emulator, folder):
    """Options > Choose Font...: DejaVu Sans Mono 14 with OK, then Cancel.
    The rows' metrics come from the state log, at a key typed afterwards."""
    for button in (FONT_OK, FONT_CANCEL):
        name = "OK" if button is FONT_OK else "Cancel"
        place(None)
        c = Console(mox_exe, emulator, folder, "font")
        if not c.window:
            c.close()
            continue
        x, y, _, _ = console_check.geometry(c.window)
        click_at(x + MENU_OPTIONS[0], y + MENU_OPTIONS[1])
        click_at(x + MENU_OPTIONS[0] + 20, y + 19 + 10)
        found = wait_window("Font")
        check(found is not None, "Options > Choose Font... opens the font dialog")
        if not found:
            c.close()
            continue
        fx, fy, _, _ = console_check.geometry(found)
        time.sleep(0.5)
        if button is FONT_OK:
            # The proportional DejaVu Sans is installed in the prefix too.
            row = darkest(draw_check.grab(), (fx, fy), FONT_FAMILY_4)
            check(row > 200, "only the three fixed-width families are listed (darkest grey "
                  "%d in the fourth row)" % row)
        click_at(fx + FONT_FAMILY_3[0], fy + FONT_FAMILY_3[1])
        click_at(fx + FONT_SIZE_14[0], fy + FONT_SIZE_14[1])
        click_at(fx + button[0], fy + button[1])
        check(wait_window("Font", gone=True) is not None, "%s closes the font dialog" % name)
        console_check.point_at(c.window)
        mark = console_check.last_counter(c.log)
        xdotool("type", "1")
        r = console_check.wait_for(c.log, lambda r: r["event"] == "key",
                                   "%s: a key typed after the font dialog" % name, mark)
        if r and c.first:
            if button is FONT_OK:
                check(r["font-size"] == 14 and r["line-h"] > c.first["line-h"]
                      and r["char-width"] > c.first["char-width"],
                      "DejaVu Sans Mono 14 gives taller and wider rows (size %r, row %r x %r, "
                      "was %r x %r)" % (r["font-size"], r["line-h"], r["char-width"],
                                        c.first["line-h"], c.first["char-width"]))
            else:
                check((r["font-size"], r["line-h"], r["char-width"]) ==
                      (11, c.first["line-h"], c.first["char-width"]),
                      "Cancel keeps the font (size %r, row %r x %r)"
                      % (r["font-size"], r["line-h"], r["char-width"]))
        closes(c, "the close box ends with status 0")
        got = read_cfg()
        want = expected(changed={"font-name": '"DejaVu Sans Mono"', "font-size": "14"}
                        if button is FONT_OK else None)
        check(got == want, "after the font dialog's %s the file holds the console's font "
              "(got %r)" % (name, got))


def run_file(mox_exe, emulator, folder):
    """File > Run... with the script's path typed into the open dialog."""
    script = os.path.join(folder, "chosen.mox")
    with open(script, "w") as f:
        f.write('Mox []\nprint "run from the menu"\n')
    place(None)
    c = Console(mox_exe, emulator, folder, "run")
    if not c.window:
        c.close()
        return
    x, y, _, _ = console_check.geometry(c.window)
    mark = console_check.last_counter(c.log)
    click_at(x + MENU_FILE[0], y + MENU_FILE[1])
    click_at(x + MENU_FILE[0] + 20, y + 19 + 10)
    found = wait_window("Open")
    check(found is not None, "File > Run... opens the open-file dialog")
    if found:
        # The name field has the focus; Return opens.
        xdotool("windowfocus", found)
        time.sleep(0.3)
        xdotool("type", "--delay", "40", console_check.windows_path(script))
        xdotool("key", "Return")
        line = "do %/Z" + script
        r = console_check.wait_for(c.log, lambda r: r["event"] == "ask" and
                                   "run from the menu" in r["lines"], "the chosen script runs",
                                   mark)
        if r:
            check(">> " + line in r["lines"] and r["history"][:1] == [line],
                  "the console shows and keeps the line %r (got %r, history %r)"
                  % (line, r["lines"], r["history"][:1]))
        console_check.point_at(c.window)
    closes(c, "the close box ends with status 0")
    if found:
        got = read_cfg()
        want = expected(changed={"history": '["do %%/Z%s"]' % script})
        check(got == want, "the file's history holds the do line (got %r)" % got)


def main():
    mox_exe = sys.argv[1]
    emulator = sys.argv[2:]
    xvfb = gui_check.start_display()
    saved = read_cfg()
    try:
        with tempfile.TemporaryDirectory() as folder:
            first_quit(mox_exe, emulator, folder)
            stored_size(mox_exe, emulator, folder)
            moved_and_resized(mox_exe, emulator, folder)
            no_menu_bar(mox_exe, emulator, folder)
            damaged(mox_exe, emulator, folder)
            history_and_unknown(mox_exe, emulator, folder)
            dialogs(mox_exe, emulator, folder)
            buffer_lines(mox_exe, emulator, folder)
            mouse_mode(mox_exe, emulator, folder)
            font_chooser(mox_exe, emulator, folder)
            run_file(mox_exe, emulator, folder)
            quits(mox_exe, emulator, folder)
            typed(mox_exe, emulator, folder)
    finally:
        place(saved)
        if xvfb:
            xvfb.kill()


if __name__ == "__main__":
    main()
    sys.exit(1 if gui_check.failures else 0)
