#!/usr/bin/env python3
"""Scroller steps, edit selections, scroll bars, tab stops, a para change,
button font colours, accelerated faces, tab pages, a drop-down's menu
commands, pastes beyond an area's limit and a modal window opened by a
release, and the stacking of a pane's faces under Wine.

Runs tests/gui/controls.mox in a copy of mox-run that carries the console's
application manifest (so that it gets version 6 of the common controls, as
mox.exe does: only those buttons ask their parent to draw them), reads the
controls back through Win32 (widget-probe, win-probe, layered-probe),
clicks and types with xdotool, grabs the screen, and checks the lines the
actors print.

    controls_check.py MOX-RUN WIN-PROBE WIDGET-PROBE LAYERED-PROBE [EMULATOR]

Shares the display, program and probe helpers of gui_check.py.
"""
import os
import shutil
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import gui_check as gc  # noqa: E402
import view_rows_check as vr  # noqa: E402
import widgets_check as wc  # noqa: E402

check = gc.check
TITLE = "Mox controls check"


def until(program, wanted):
    """Reads printed lines until one is wanted (the actors also print for
    the key and button releases on the way)."""
    while True:
        line = program.expect_any()
        if line is None or line == wanted:
            check(line == wanted, "the script prints %r (last lines %r)" % (wanted, program.seen[-4:]))
            return line == wanted


def scroller_line(program, wanted):
    line = program.expect_any() or ""
    f = line.split()
    ok = len(f) == 2 and f[0] == "scroller" and abs(float(f[1]) - wanted) < 1e-9
    check(ok, "the scroller's data becomes %r (got %r)" % (wanted, line))


def read_controls(emulator, widget_probe):
    edits, scroller = {}, None
    for line in wc.probe(emulator, widget_probe, TITLE):
        f = line.split(" ")
        if f[0] == "edit":
            text = line.split(" text ", 1)[1]
            x, y, w, h = (int(v) for v in f[13:17])
            edits[(text.split() or [""])[0]] = dict(sel=(int(f[2]), int(f[3])), lines=int(f[5]),
                                          v=int(f[7]), h=int(f[9]), tab=int(f[11]),
                                          center=(x + w // 2, y + h // 2))
        elif f[0] == "scroller":
            scroller = dict(pos=int(f[1]), page=int(f[2]), rect=tuple(int(v) for v in f[5:9]),
                            arrow=int(f[10]))
            # The thumb's ends from the bar's left edge, as the system lays
            # the bar out (0 to 100).
            trough = scroller["rect"][2] - 2 * scroller["arrow"]
            size = max(trough * scroller["page"] // 101, 6)
            start = scroller["arrow"] + scroller["pos"] * (trough - size) // (101 - scroller["page"])
            scroller["thumb"] = (start, start + size)
    return edits, scroller


def edits_and_bars(edits):
    # Selections: the made area's 4x5 covers "cd" past one CR LF; a pair in
    # either order selects the same; none selects nothing at the start; a
    # field made with 1x3 selects its first three characters.
    for name, wanted in [("ab|cd|ef", (4, 6)), ("gh|ij|kl", (4, 6)), ("mnop", (0, 0)),
                         ("qrst", (0, 3))]:
        got = edits.get(name, {}).get("sel")
        check(got == wanted, "the control %r selects %r (got %r)" % (name, wanted, got))
    # Scroll bars by the text's extent: (vertical, horizontal).
    for name, wanted in [("short", (0, 0)), ("1|2|3|4|5|6|7|8|9|10|11|12", (1, 0)),
                         ("wide", (0, 1))]:
        e = edits.get(name)
        got = (e["v"], e["h"]) if e else None
        check(got == wanted, "the area %r shows scroll bars %r (got %r)" % (name, wanted, got))
    wrapped = edits.get("wrapped")
    check(wrapped is not None and wrapped["h"] == 0 and wrapped["lines"] > 1,
          "a wrapping area has no horizontal bar (got %r)" % (wrapped,))
    # Tab stops every ten average characters against the default four.
    tabbed, plain = edits.get("t"), edits.get("p")
    ratio = tabbed["tab"] / plain["tab"] if tabbed and plain and plain["tab"] > 0 else None
    check(ratio is not None and 2.2 < ratio < 2.8,
          "tabs: 10 sets stops 2.5 times the default (got %r, %r)" % (tabbed, plain))
    # The para change made the area again: it wraps, and the text set
    # afterwards reached the new control.
    again = edits.get("again")
    check(again is not None and again["lines"] > 1,
          "the area made again for its new para wraps the text set after (got %r)" % (again,))


def scroll(program, emulator, widget_probe, bar):
    x, y, w, h = bar["rect"]
    cy = y + h // 2
    left, right = (x + bar["arrow"] // 2, cy), (x + w - bar["arrow"] // 2, cy)
    check(bar["pos"] == 5, "data 0.05 puts the thumb at 5 (got %r)" % (bar,))
    # A page click before the thumb at 5 steps a page of 10 back, beyond
    # the range's start.
    gc.click((x + (bar["arrow"] + bar["thumb"][0]) // 2, cy))
    scroller_line(program, -0.05)
    # Line clicks step by steps (0.1) of the range and stop at its start.
    for at, wanted in [(right, 0.1), (right, 0.2), (right, 0.3), (left, 0.2), (left, 0.1),
                       (left, 0.0), (left, 0.0)]:
        gc.click(at)
        scroller_line(program, wanted)
    _, bar = read_controls(emulator, widget_probe)
    if bar:
        gc.click((x + (bar["thumb"][1] + w - bar["arrow"]) // 2, cy))
        scroller_line(program, 0.1)


def selection_keys(program, edits):
    keys = edits.get("ab|cd")
    check(keys is not None, "the typed area has a window")
    if not keys:
        return
    gc.click(keys["center"])
    until(program, "area select none")
    gc.xdotool("key", "ctrl+End")
    gc.xdotool("key", "shift+Up")
    until(program, "area select 3x5")


def colours(emulator, layered_probe, children):
    pixel = vr.grab_screen()
    red = children.get("Red")
    check(red is not None, "the red button has a window")
    if red:
        x, y = red["center"][0] - red["rect"][2] // 2, red["center"][1] - red["rect"][3] // 2
        reds = sum(1 for i in range(red["rect"][2]) for j in range(red["rect"][3])
                   if (lambda p: p[0] > 160 and p[1] < 90 and p[2] < 90)(pixel(x + i, y + j)))
        check(reds >= 20, "the button's label is drawn in its font's red (%d red pixels)" % reds)
    # The accelerated face is a layered window, drawn in its colour.
    out = gc.subprocess.run(emulator + [layered_probe, "list", TITLE], capture_output=True,
                            text=True, timeout=120).stdout
    fast = None
    for line in out.splitlines():
        f = line.split()
        # The accelerated face is the 30x30 one.
        if f and f[0] == "window" and f[2] == "MoxBase" and f[5:7] == ["30", "30"]:
            fast = dict(rect=tuple(int(v) for v in f[3:7]), exstyle=int(f[14], 16))
    WS_EX_LAYERED = 0x80000
    check(fast is not None and fast["exstyle"] & WS_EX_LAYERED,
          "the accelerated base face is a layered window (got %r)" % (fast,))
    if fast:
        x, y, w, h = fast["rect"]
        check(pixel(x + w // 2, y + h // 2) == (0, 0, 255),
              "the accelerated face shows its colour (got %r)" % (pixel(x + w // 2, y + h // 2),))


def page_menu_paste(program, emulator, widget_probe, children):
    # A tab page shows the window colour, not the window's button face.
    page, window = children.get("MoxPanel"), children.get("Done")
    if page and window:
        pixel = vr.grab_screen()
        inside = pixel(*page["center"])
        beside = pixel(window["center"][0], window["center"][1] + window["rect"][3])
        check(inside == (255, 255, 255) and beside != inside,
              "the tab page is filled white, the window is not (got %r, %r)" % (inside, beside))
    else:
        check(False, "the tab page has a window")
    # A drop-down that owns a menu turns its command into a menu event.
    gc.subprocess.run(emulator + [widget_probe, TITLE, "menu"], timeout=120)
    line = program.expect_any() or ""
    while line.startswith("area select"):  # the releases of the keys typed before
        line = program.expect_any() or ""
    check(line.startswith("combo menu"), "the drop-down raises a menu event (got %r)" % line)
    # The text the menu grew to 200 wide is drawn again, centred in it:
    # nothing left of the old drawing in its first 60.
    mid = children.get("Mid")
    if mid:
        time.sleep(0.5)
        x, y = mid["center"][0] - mid["rect"][2] // 2, mid["center"][1] - mid["rect"][3] // 2
        pixel = vr.grab_screen()
        ink = sorted(i for i in range(200) for j in range(mid["rect"][3])
                     if sum(pixel(x + i, y + j)) < 200)
        check(ink and ink[0] > 70 and abs((ink[0] + ink[-1]) / 2 - 100) < 10,
              "the grown text is centred, its old drawing gone (ink from %r to %r)"
              % (ink and ink[0], ink and ink[-1]))
    else:
        check(False, "the centred text has a window")
    # A paste beyond the area's text limit arrives whole.
    out = gc.subprocess.run(emulator + [widget_probe, TITLE, "paste", "40000", "paste"],
                            capture_output=True, text=True, timeout=120).stdout.split()
    check(out == ["pasted", "40005"], "40000 letters pasted into \"paste\" (got %r)" % (out,))


def modal_from_release(program, emulator, win_probe, children):
    opener = children.get("Open")
    check(opener is not None, "the text that opens a window has a window")
    if not opener:
        return
    gc.click(opener["center"])
    modal = "Mox controls modal"
    shut = None
    if wc.find_window(modal):
        time.sleep(0.5)
        _, inside = wc.children_of(wc.probe(emulator, win_probe, modal))
        shut = inside.get("Shut")
    check(shut is not None, "the modal window shows its button")
    if shut:
        gc.click(shut["center"])
        until(program, "shut")
        until(program, "back")


def stacking(children):
    # The purple face inserted at the head of the pane lies beneath the
    # green one after it, where they overlap (client 330x390).
    done = children.get("Done")
    if not done:
        return
    origin = (done["center"][0] - 470, done["center"][1] - 265)
    got = vr.grab_screen()(origin[0] + 330, origin[1] + 390)
    check(got == (0, 160, 0), "the face after the inserted one is on top (got %r)" % (got,))


def run(mox_run, win_probe, widget_probe, layered_probe, emulator, folder):
    # The runner beside the console's manifest, under the name the system
    # looks for next to an executable.
    themed = os.path.join(folder, "mox-run.exe")
    shutil.copy(mox_run, themed)
    shutil.copy(os.path.join(HERE, "..", "..", "platform", "windows", "mox.manifest"),
                themed + ".manifest")
    program = wc.Program(emulator + [themed, os.path.join(HERE, "controls.mox")])
    try:
        return drive(program, win_probe, widget_probe, layered_probe, emulator)
    except BaseException:
        # A window left behind would take the next test's keys and title.
        program.proc.kill()
        raise


def drive(program, win_probe, widget_probe, layered_probe, emulator):
    if not until(program, "ready") or not wc.find_window(TITLE):
        check(False, "the controls window shows")
        return program
    time.sleep(0.5)
    edits, bar = read_controls(emulator, widget_probe)
    edits_and_bars(edits)
    _, children = wc.children_of(wc.probe(emulator, win_probe, TITLE))
    colours(emulator, layered_probe, children)
    stacking(children)
    check(bar is not None, "the scroller has a window")
    if bar:
        scroll(program, emulator, widget_probe, bar)
    selection_keys(program, edits)
    page_menu_paste(program, emulator, widget_probe, children)
    modal_from_release(program, emulator, win_probe, children)
    done = children.get("Done")
    if done:
        gc.click(done["center"])
        until(program, "done")
        until(program, "end")
        gc.ends_cleanly(program)
        return None
    return program


def main():
    mox_run, win_probe, widget_probe, layered_probe = sys.argv[1:5]
    emulator = sys.argv[5:]
    xvfb = gc.start_display()
    left = None
    # Beside the runner, so that the copy shares its build folder's Wine
    # prefix (and so its wineserver) with the probes.
    folder = tempfile.mkdtemp(prefix="controls-", dir=os.path.dirname(os.path.abspath(mox_run)))
    try:
        left = run(mox_run, win_probe, widget_probe, layered_probe, emulator, folder)
    finally:
        if left and left.proc.poll() is None:
            left.proc.kill()
        if xvfb:
            xvfb.kill()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
    sys.exit(1 if gc.failures else 0)
