#!/usr/bin/env python3
"""Menus, native widgets, common dialogs and wait under Wine, driven as a
user would drive them (xdotool keys and clicks on the test display).

Runs tests/gui/menu-keys.mox (a menu bar by keys, a pop-up menu by right
clicks), tests/gui/widget-lists.mox (list, drop-list, tab panel and
calendar: items read back through Win32 by widget-probe, then clicks),
tests/gui/widget-wait.mox (wait handles a posted event; nested loops ended
as ask ends them) and tests/gui/dialog-files.mox (file, folder and font
dialogs answered by keys), checking the lines the scripts print.

    widgets_check.py MOX-RUN WIN-PROBE WIDGET-PROBE [EMULATOR]

Shares the display, program and probe helpers of gui_check.py.
"""
import ctypes
import os
import shutil
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import gui_check as gc  # noqa: E402

check = gc.check


class Program(gc.Program):
    """gc.Program without Wine's own diagnostics among the printed lines."""

    def _read(self):
        for raw in self.proc.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            if not line.startswith("wine: "):
                self.lines.put(line)
        self.lines.put(None)


def cursor_pixels():
    """Size and ARGB pixels of the X pointer's current image (XFixes)."""
    x11 = ctypes.CDLL("libX11.so.6")
    xfixes = ctypes.CDLL("libXfixes.so.3")

    class Image(ctypes.Structure):
        _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short),
                    ("width", ctypes.c_ushort), ("height", ctypes.c_ushort),
                    ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                    ("serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                    ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]
    x11.XOpenDisplay.restype = ctypes.c_void_p
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(Image)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    if not display:
        return (0, 0), []
    got = xfixes.XFixesGetCursorImage(display)
    if not got:
        x11.XCloseDisplay(display)
        return (0, 0), []
    image = got.contents
    pixels = [image.pixels[i] & 0xFFFFFFFF for i in range(image.width * image.height)]
    size = (image.width, image.height)
    x11.XCloseDisplay(display)
    return size, pixels


def find_window(name):
    for _ in range(100):
        found = gc.xdotool("search", "--name", name).split()
        if found:
            return found[0]
        time.sleep(0.2)
    return None


def probe(emulator, tool, title):
    """win-probe lines of a window other than the default title."""
    out = gc.subprocess.run(emulator + [tool, title], capture_output=True, text=True,
                            timeout=120).stdout
    return out.splitlines()


def children_of(lines):
    children = {}
    window = None
    for line in lines:
        f = line.split()
        if f and f[0] == "window":
            window = dict(x=int(f[1]), y=int(f[2]), origin=(int(f[9]), int(f[10])))
        elif f and f[0] == "child":
            text = line.split(" text ", 1)[1] if " text " in line else ""
            children.setdefault(text or f[2], dict(cls=f[2], center=(int(f[8]), int(f[9])),
                                                   rect=tuple(int(v) for v in f[3:7])))
    return window, children


def menus(mox_run, win_probe, emulator):
    program = Program(emulator + [mox_run, os.path.join(HERE, "menu-keys.mox")])
    program.expect("ready")
    if not find_window("Mox menu check"):
        check(False, "xdotool finds the menu window")
        return program
    window, children = children_of(probe(emulator, win_probe, "Mox menu check"))
    right, done = children.get("Right"), children.get("Done")
    check(right is not None and done is not None, "the menu window's children are there")
    if not right or not done:
        return program
    # The menu bar sits above the client area: the client origin is lower
    # than the window's own top by the bar's height.
    check(window["origin"][1] - window["y"] >= 18, "the window has a menu bar")
    gc.click(right["center"])  # activates the window
    time.sleep(0.3)
    # F10 enters the bar on File; Down opens it on Open; Down reaches More,
    # Right opens it on Alpha, Down reaches Beta.
    for key in ["F10", "Down", "Return"]:
        gc.xdotool("key", key)
        time.sleep(0.3)
    program.expect("menu window open")
    for key in ["F10", "Down", "Down", "Right", "Down", "Return"]:
        gc.xdotool("key", key)
        time.sleep(0.3)
    program.expect("menu window menu-far-beyond")
    # A right click raises alt-down, then shows the text face's pop-up menu;
    # the menu event's offset is the clicked point in the face (its centre).
    for keys, wanted in [(["Down", "Down", "Return"], "popup text paste"),
                         (["Escape"], None),
                         (["Down", "Down", "Down", "Return"], "popup text none"),
                         (["Down", "Return"], "popup text copy")]:
        gc.xdotool("mousemove", right["center"][0], right["center"][1])
        time.sleep(0.2)
        gc.xdotool("click", "3")
        program.expect("alt-down")
        time.sleep(0.5)
        for key in keys:
            gc.xdotool("key", key)
            time.sleep(0.3)
        if wanted:
            program.expect(wanted + " (40, 15)")
    gc.click(done["center"])
    program.expect("done")
    program.expect("end")
    gc.ends_cleanly(program)
    return None


def lists(mox_run, win_probe, widget_probe, emulator):
    program = Program(emulator + [mox_run, os.path.join(HERE, "widget-lists.mox")])
    for line in ["list selected -1", "dark false", "calendar 17-May-2020",
                 "calendar refused true", "lists changed"]:
        program.expect(line)
    if not find_window("Mox widget check"):
        check(False, "xdotool finds the widget window")
        return program
    lines = probe(emulator, widget_probe, "Mox widget check")
    items = []
    tab = caret = None
    current = None
    for line in lines:
        f = line.split(" ")
        if f[0] == "list":
            current = dict(cls=f[1], selected=int(f[2]), items=[])
            items.append(current)
        elif f[0] == "item" and current is not None:
            current["items"].append(line[5:])
        elif f[0] == "caret":
            caret = (f[1], tuple(int(v) for v in f[2:6]))
        elif f[0] == "tab":
            tab = dict(selected=int(f[2]), count=int(f[3]),
                       rect=tuple(int(v) for v in f[4:8]))
    listbox = next((i for i in items if i["cls"] == "MoxListBox"), None)
    combo = next((i for i in items if i["cls"] == "MoxCombo" and "red" in i["items"]), None)
    check(listbox is not None and listbox["items"] == ["ALPHA", "first", "beta", "gamma.txt",
                                                       "delta"],
          "the list's items follow its data in place (got %r)" % (listbox,))
    check(listbox is not None and listbox["selected"] == -1, "the list selects nothing")
    check(combo is not None and combo["items"] == ["red", "green", "blue"]
          and combo["selected"] == 1, "the drop-list holds its data and selection (got %r)"
          % (combo,))
    check(tab is not None and tab["count"] == 3 and tab["selected"] == 0,
          "the tab panel has three tabs, the first selected (got %r)" % (tab,))
    check(caret == ("MoxBase", (9, 6, 2, 16)),
          "the caret face's caret is in its host's window at its offset (got %r)" % (caret,))
    _, children = children_of(probe(emulator, win_probe, "Mox widget check"))
    # A button with an image shows it (BS_BITMAP and an image list); one
    # without keeps its text.
    styles = {line.split(" text ", 1)[1]: int(line.split()[11], 16)
              for line in probe(emulator, win_probe, "Mox widget check")
              if line.startswith("child") and " text " in line}
    BS_BITMAP = 0x80
    check(styles.get("Pic", 0) & BS_BITMAP and not styles.get("Reset", BS_BITMAP) & BS_BITMAP,
          "only the button with an image has BS_BITMAP (got %r)" % styles)
    # An image in the cursor option becomes the pointer over its face.
    cur = children.get("Cur")
    check(cur is not None, "the cursor face has a window")
    if cur:
        gc.xdotool("mousemove", cur["center"][0], cur["center"][1])
        time.sleep(0.5)
        size, pixels = cursor_pixels()
        reds = sum(1 for p in pixels if p == 0xFFFF0000)
        check(reds == 144, "the pointer over the face is the 12x12 red image (got %r, %d red)"
              % (size, reds))
    listrect = next((c for c in children.values() if c["cls"] == "MoxListBox"), None)
    if failures_in_flight() or not listrect or not tab:
        return program
    # Item 2 ("first") of the list, one row below the top row.
    lx, ly = listrect["center"][0] - listrect["rect"][2] // 2, \
        listrect["center"][1] - listrect["rect"][3] // 2
    gc.click((lx + 20, ly + 4 + 16 + 6))
    program.expect("list select 2")
    program.expect("list change 2")
    # The second tab: a click raises select with the old tab, then change
    # with the new one, each once; the pages' visibility follows.
    tx, ty = tab["rect"][0], tab["rect"][1]
    gc.click((tx + 60, ty + 10))
    program.expect("tab select 1")
    program.expect("tab change 2 [false true false]")
    gc.xdotool("key", "Right")
    program.expect("tab select 2")
    program.expect("tab change 3 [false false true]")
    gc.click(children["Reset"]["center"])
    program.expect("tab select 3")
    program.expect("tab change 1 [true false false]")
    # Down in a drop-down's edit selects the next item, whose text becomes
    # the face's text before select is raised.
    drop = next((c for c in children.values() if c["cls"] == "MoxCombo"
                 and c["rect"][1] > 140), None)
    check(drop is not None, "the drop-down has a window")
    if drop:
        gc.click((drop["center"][0] - 30, drop["center"][1]))
        gc.xdotool("key", "Down")
        program.expect('drop select 1 "one"')
        gc.xdotool("key", "Down")
        program.expect('drop select 2 "two"')
    gc.click(children["Done"]["center"])
    program.expect("done")
    program.expect("end")
    gc.ends_cleanly(program)
    return None


def failures_in_flight():
    return bool(gc.failures)


def wait_and_loops(mox_run, emulator):
    program = Program(emulator + [mox_run, os.path.join(HERE, "widget-wait.mox")])
    for line in ["posted", 'key #"q"', "waited", "inner ended", "inner ended", "outer ended"]:
        program.expect(line)
    gc.ends_cleanly(program)


def dialogs(mox_run, emulator):
    folder = "/tmp/mox-dialog"
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name in ["a.txt", "b.txt"]:
        with open(os.path.join(folder, name), "w") as f:
            f.write(name)
    program = Program(emulator + [mox_run, os.path.join(HERE, "dialog-files.mox")])

    def answer(ask, title, keys, typed=None):
        program.expect("ask " + ask)
        found = find_window(title)
        check(found is not None, "the %s dialog shows" % ask)
        if not found:
            return
        time.sleep(1.0)
        gc.xdotool("windowfocus", found)
        time.sleep(0.3)
        if typed:
            gc.xdotool("key", "ctrl+a")
            gc.xdotool("type", "--delay", "50", typed)
            time.sleep(0.3)
        # A dialog still filling itself in (Wine's folder browser walks the
        # drives first) can drop the key: it is sent again while the dialog
        # stays.
        for _ in range(4):
            for key in keys:
                gc.xdotool("key", key)
                time.sleep(0.3)
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline and shown(found):
                time.sleep(0.2)
            if not shown(found):
                return
            gc.xdotool("windowfocus", found)

    def shown(window):
        return window in gc.xdotool("search", "--onlyvisible", "--name", ".").split()

    # The open dialog starts in the name's folder with its file filled in.
    answer("open", "Mox open check", ["Return"])
    program.expect("open %/Z/tmp/mox-dialog/a.txt")
    answer("multi", "Mox multi check", ["Return"], '"a.txt" "b.txt"')
    program.expect("multi [%/Z/tmp/mox-dialog/a.txt %/Z/tmp/mox-dialog/b.txt]")
    answer("save", "Mox save check", ["Escape"])
    program.expect("save none")
    program.expect("filter invalid-arg")
    answer("dir", "Browse for Folder", ["Return"])
    program.expect("dir %/Z/tmp/mox-dialog/")
    answer("font", "Font", ["Escape"])
    program.expect("font none")
    # The chooser starts on the given font; OK gives back its name, size
    # and style.
    answer("chosen font", "Font", ["Return"])
    program.expect("chosen DejaVu Sans 12 [bold italic]")
    program.expect("end")
    gc.ends_cleanly(program)
    shutil.rmtree(folder, ignore_errors=True)


def main():
    mox_run, win_probe, widget_probe = sys.argv[1], sys.argv[2], sys.argv[3]
    emulator = sys.argv[4:]
    xvfb = gc.start_display()
    left = None
    try:
        runs = {"menus": lambda: menus(mox_run, win_probe, emulator),
                "lists": lambda: lists(mox_run, win_probe, widget_probe, emulator),
                "wait": lambda: wait_and_loops(mox_run, emulator),
                "dialogs": lambda: dialogs(mox_run, emulator)}
        only = os.environ.get("MOX_GUI_ONLY")
        for name, run in runs.items():
            if only and name not in only.split(","):
                continue
            left = run()
            if left and left.proc.poll() is None:
                left.proc.kill()
    finally:
        if left and left.proc.poll() is None:
            left.proc.kill()
        if xvfb:
            xvfb.kill()


if __name__ == "__main__":
    main()
    sys.exit(1 if gc.failures else 0)
