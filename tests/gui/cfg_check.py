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
- Alt+O opens the Settings dialog.

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
        self.proc = console_check.start(mox_exe, emulator, [], self.log)
        self.first = console_check.wait_for(self.log, lambda r: r["event"] == "ask",
                                            "%s: the first prompt" % name)
        self.window = console_check.find_window() if self.first else None
        if self.window:
            console_check.point_at(self.window)

    def type_line(self, text):
        xdotool("type", "--delay", "60", text)
        xdotool("key", "Return")

    def quit(self, line="quit"):
        """Types the line that quits and returns the exit status."""
        if self.window:
            self.type_line(line)
        status = console_check.status(self.proc)
        if self.proc.poll() is None:
            self.proc.kill()
        return status


def first_quit(mox_exe, emulator, folder):
    place(None)
    c = Console(mox_exe, emulator, folder, "first")
    check(c.first is not None and c.first["size"] == "641x481",
          "with no file the console opens 640x480 (log size %r)" % (c.first or {}).get("size"))
    check(c.quit() == 0, "quit ends with status 0")
    got = read_cfg()
    check(got == expected(), "the first quit writes the keys in order (got %r)" % got)


def stored_size(mox_exe, emulator, folder):
    place(HEADER + "win-pos: 100x100\nwin-size: 800x600\n")
    c = Console(mox_exe, emulator, folder, "size")
    check(c.first is not None and c.first["size"] == "801x601",
          "a stored 800x600 opens an 800x600 console (log size %r)" % (c.first or {}).get("size"))
    check(c.quit() == 0, "quit ends with status 0")
    got = read_cfg()
    check(got == expected(changed={"win-size": "800x600"}),
          "a pair as win-pos gives the default place; the size is kept (got %r)" % got)


def damaged(mox_exe, emulator, folder):
    typed = {"history": '["1 + 2"]'}
    cases = [
        ("unloadable", HEADER + 'win-size: 800x600 "no end\n', expected(changed=typed)),
        ("history 5", HEADER + "history: 5\n", expected(["history"], typed)),
        ("buffer-lines text", HEADER + 'buffer-lines: "x"\n', expected(["buffer-lines"], typed)),
        ("font-size 0", HEADER + "font-size: 0\n", expected(["font-size"], typed)),
        ("key at the end", HEADER + "font-size: 12\nwin-size:",
         expected(["font-size", "win-size"], dict(typed, **{"font-size": "12"}))),
    ]
    for name, text, want in cases:
        place(text)
        c = Console(mox_exe, emulator, folder, "damaged")
        check(c.first is not None and c.first["lines"][-1] == ">> ",
              "%s: the console starts and prompts" % name)
        if c.first is None:
            c.quit()
            continue
        mark = console_check.last_counter(c.log)
        c.type_line("1 + 2")
        console_check.wait_for(c.log, lambda r: r["event"] == "ask" and "== 3" in r["lines"],
                               "%s: a line typed runs" % name, mark)
        check(c.quit() == 0, "%s: quit ends with status 0" % name)
        got = read_cfg()
        check(got == want, "%s: the file is written back repaired (got %r)" % (name, got))


def history_and_unknown(mox_exe, emulator, folder):
    entries = " ".join('"%d"' % i for i in range(150, 0, -1))
    place(HEADER + "foo: 1\nhistory: [%s]\n" % entries)
    c = Console(mox_exe, emulator, folder, "history")
    check(c.first is not None and len(c.first["history"]) == 150,
          "150 history entries are loaded")
    check(c.quit() == 0, "quit ends with status 0")
    got = read_cfg() or ""
    kept = " ".join('"%d"' % i for i in range(150, 50, -1))
    check(got.startswith(HEADER + "foo: 1\nhistory: [%s]\n" % kept),
          "the 100 newest entries are written, foo kept in its place (got %r)" % got[:160])


def folder_in_place(mox_exe, emulator, folder):
    place(os.sep)
    c = Console(mox_exe, emulator, folder, "folder")
    check(c.first is not None, "a folder in the file's place: the console starts")
    check(c.quit("quit/return 5") == 5, "quit/return 5 keeps its status when nothing can be saved")
    check(os.path.isdir(cfg_file()), "the folder is left alone")
    place(None)


def settings(mox_exe, emulator, folder):
    place(None)
    c = Console(mox_exe, emulator, folder, "settings")
    if c.window:
        xdotool("key", "alt+o")
        found = ""
        deadline = time.monotonic() + console_check.WAIT
        while not found and time.monotonic() < deadline:
            found = xdotool("search", "--onlyvisible", "--name", "^Settings$").strip()
            time.sleep(0.2)
        check(bool(found), "Alt+O opens the Settings dialog")
        if found:
            xdotool("key", "--window", found.split()[0], "alt+F4")
            time.sleep(1)
            console_check.point_at(c.window)
    check(c.quit() == 0, "quit after the dialog ends with status 0")
    got = read_cfg()
    check(got == expected(), "closing Settings changes nothing in the file (got %r)" % got)


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
            folder_in_place(mox_exe, emulator, folder)
            settings(mox_exe, emulator, folder)
    finally:
        place(saved)
        if xvfb:
            xvfb.kill()


if __name__ == "__main__":
    main()
    sys.exit(1 if gui_check.failures else 0)
