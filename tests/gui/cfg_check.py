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
- damaged files (unloadable text, history: 5, buffer-lines: "x",
  font-size: 0, a key with nothing after it) start the console normally
  and are written back repaired;
- 150 history entries are written as the 100 newest, an unknown key kept;
- a folder in the file's place: quit/return keeps its status;
- Alt+O opens the Settings dialog;
- by the mouse: Options > Settings... with the colour box #002b36, then
  Cancel (the file keeps its background) or OK (it holds 0.43.54); Help >
  Keyboard Shortcuts prints the list; Help > About opens a 360x330 window
  that its Close button closes.
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

    def end(self):
        got = console_check.status(self.proc)
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
        return self.end()


def first_quit(mox_exe, emulator, folder):
    place(None)
    c = Console(mox_exe, emulator, folder, "first")
    check(c.first is not None and c.first["size"] == "641x481",
          "with no file the console opens 640x480 (log size %r)" % (c.first or {}).get("size"))
    check(c.close() == 0, "the close box ends with status 0")
    got = read_cfg()
    check(got == expected(), "the first quit writes the keys in order (got %r)" % got)


def stored_size(mox_exe, emulator, folder):
    place(HEADER + "win-pos: 100x100\nwin-size: 800x600\n")
    c = Console(mox_exe, emulator, folder, "size")
    check(c.first is not None and c.first["size"] == "801x601",
          "a stored 800x600 opens an 800x600 console (log size %r)" % (c.first or {}).get("size"))
    check(c.close() == 0, "the close box ends with status 0")
    got = read_cfg()
    check(got == expected(changed={"win-size": "800x600"}),
          "a pair as win-pos gives the default place; the size is kept (got %r)" % got)


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
        check(c.close() == 0, "%s: the close box ends with status 0" % name)
        got = read_cfg()
        check(got == want, "%s: the file is written back repaired (got %r)" % (name, got))


def history_and_unknown(mox_exe, emulator, folder):
    entries = " ".join('"%d"' % i for i in range(150, 0, -1))
    place(HEADER + "foo: 1\nhistory: [%s]\n" % entries)
    c = Console(mox_exe, emulator, folder, "history")
    check(c.first is not None, "150 history entries: the console starts")
    check(c.close() == 0, "the close box ends with status 0")
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
        check(c.close() == 0, "the close box keeps status 0 when nothing can be saved")
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


def geometry(window):
    x = y = w = h = 0
    for line in xdotool("getwindowgeometry", window).splitlines():
        line = line.strip()
        if line.startswith("Position:"):
            x, y = [int(v) for v in line.split()[1].split(",")]
        elif line.startswith("Geometry:"):
            w, h = [int(v) for v in line.split()[1].split("x")]
    return x, y, w, h


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
ABOUT_CLOSE = (185, 312)


def dialogs(mox_exe, emulator, folder):
    """The menus by the mouse: Settings with a colour box, Cancel and OK;
    Keyboard Shortcuts; About and its Close."""
    for button, background in [(CANCEL, "252.252.252"), (OK, "0.43.54")]:
        place(None)
        c = Console(mox_exe, emulator, folder, "settings")
        if not c.window:
            c.close()
            continue
        x, y, _, _ = geometry(c.window)
        click_at(x + MENU_OPTIONS[0], y + MENU_OPTIONS[1])
        click_at(x + MENU_OPTIONS[0] + 20, y + ITEM_2)
        found = wait_window("Settings")
        check(found is not None, "Options > Settings... opens the Settings dialog")
        if found:
            dx, dy, dw, dh = geometry(found)
            check((dw, dh) == (346, 295), "the dialog is 346x295 (got %r)" % ((dw, dh),))
            click_at(dx + BOX_002B36[0], dy + BOX_002B36[1])
            click_at(dx + button[0], dy + button[1])
            check(wait_window("Settings", gone=True) is not None,
                  "%s closes the dialog" % ("OK" if button is OK else "Cancel"))
        console_check.point_at(c.window)
        check(c.close() == 0, "the close box ends with status 0")
        got = read_cfg()
        check(got == expected(changed={"background": background}),
              "after the box #002b36 and %s the file holds background %s (got %r)"
              % ("OK" if button is OK else "Cancel", background, got))

    place(None)
    c = Console(mox_exe, emulator, folder, "help")
    if c.window:
        x, y, _, _ = geometry(c.window)
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
            ax, ay, aw, ah = geometry(found)
            # A window without a title bar keeps a one-pixel frame.
            check((aw - 2, ah - 2) == (360, 330), "About is 360x330 inside its frame (got %r)"
                  % ((aw, ah),))
            click_at(ax + ABOUT_CLOSE[0], ay + ABOUT_CLOSE[1])
            check(wait_window("About", gone=True) is not None, "Close closes About")
        console_check.point_at(c.window)
    check(c.close() == 0, "the close box ends with status 0")


def main():
    mox_exe = sys.argv[1]
    emulator = sys.argv[2:]
    xvfb = gui_check.start_display()
    saved = read_cfg()
    try:
        with tempfile.TemporaryDirectory() as folder:
            first_quit(mox_exe, emulator, folder)
            stored_size(mox_exe, emulator, folder)
            damaged(mox_exe, emulator, folder)
            history_and_unknown(mox_exe, emulator, folder)
            dialogs(mox_exe, emulator, folder)
            typed(mox_exe, emulator, folder)
    finally:
        place(saved)
        if xvfb:
            xvfb.kill()


if __name__ == "__main__":
    main()
    sys.exit(1 if gui_check.failures else 0)
