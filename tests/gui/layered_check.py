#!/usr/bin/env python3
"""Layered base faces, face pictures, DPI changes and the camera under Wine.

Runs tests/gui/layered-faces.mox once for each way layered faces are made
(owned pop-ups, as under Wine and before Windows 8; layered child windows,
as on Windows 8 and later), reads every window of the script back through
Win32 with layered-probe, and steps the script by posting characters to its
window: pictures of faces, a moved window, a moved face inside a panel, a
hidden and shown face, and a DPI change that the probe sends (Wine never
sends one). The layered faces' pixels are read from the X screen as well.
Then tests/gui/camera-none.mox: a camera face on a machine
without capture devices.

    layered_check.py MOX-RUN LAYERED-PROBE [EMULATOR]
"""
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import gui_check as gc  # noqa: E402  (its Program, check and display)
from draw_check import grab  # noqa: E402  (X screen pixels through Xlib)

TITLE = "Mox layered check"
WS_POPUP, WS_CHILD, WS_EX_LAYERED = 0x80000000, 0x40000000, 0x80000


class Probe:
    def __init__(self, emulator, exe):
        self.command = emulator + [exe]

    def run(self, *args):
        return subprocess.run(self.command + [str(a) for a in args], capture_output=True,
                              text=True, timeout=120).stdout

    def windows(self):
        """The windows of the script by handle, the titled one's client area."""
        out = self.run("list", TITLE)
        wins, origin, client = {}, None, None
        for line in out.splitlines():
            f = line.split()
            if f and f[0] == "window":
                wins[f[1]] = dict(hwnd=f[1], cls=f[2], rect=tuple(int(v) for v in f[3:7]),
                                  parent=f[8], owner=f[10], style=int(f[12], 16),
                                  exstyle=int(f[14], 16), visible=f[16] == "1",
                                  region=tuple(int(v) for v in f[18:22]))
            elif f and f[0] == "origin":
                origin, client = (int(f[1]), int(f[2])), (int(f[4]), int(f[5]))
        return wins, origin, client

    def post(self, char):
        self.run("char", TITLE, char)


def find(wins, cls, size):
    """The window of a class with the given size (faces here differ in size)."""
    for w in wins.values():
        if w["cls"] == cls and w["rect"][2:] == size:
            return w
    return None


def check_layered(w, name, path, main, parent, at, size):
    """A layered face's window: its kind, its place on the screen, its links."""
    gc.check(w is not None, "%s (%s): has a window of %r" % (name, path, size))
    if w is None:
        return
    gc.check(w["exstyle"] & WS_EX_LAYERED, "%s (%s): WS_EX_LAYERED" % (name, path))
    gc.check(w["rect"][:2] == at, "%s (%s): at %r on the screen (got %r)"
             % (name, path, at, w["rect"][:2]))
    if path == "popup":
        gc.check(w["style"] & WS_POPUP and not w["style"] & WS_CHILD,
                 "%s (popup): a pop-up, not a child (style %08x)" % (name, w["style"]))
        gc.check(w["owner"] == main["hwnd"], "%s (popup): owned by the window (owner %s, window %s)"
                 % (name, w["owner"], main["hwnd"]))
    else:
        gc.check(w["style"] & WS_CHILD, "%s (child): a child window (style %08x)"
                 % (name, w["style"]))
        gc.check(w["parent"] == parent["hwnd"], "%s (child): child of %s (got %s)"
                 % (name, parent["hwnd"], w["parent"]))


def plus(p, dx, dy):
    return (p[0] + dx, p[1] + dy)


def check_holder(wins, path, main, origin, when):
    """A layered face with a control: the control sits at its offset inside
    the face, in the face's companion pop-up (pop-up path) or in the face's
    own window (child path)."""
    holder = find(wins, "MoxBase", (56, 30))
    button = find(wins, "MoxButton", (30, 20))
    check_layered(holder, "holder " + when, path, main, main, plus(origin, 200, 30), (56, 30))
    if holder is None or button is None:
        gc.check(False, "%s: the holder's button has a window %s" % (path, when))
        return
    gc.check(button["rect"][:2] == plus(holder["rect"][:2], 5, 5),
             "%s: the button is at 5x5 in the holder %s (%r)" % (path, when, button["rect"]))
    if path == "popup":
        companion = next((w for w in wins.values() if w["cls"] == "MoxBaseInternal"), None)
        gc.check(companion is not None and companion["owner"] == holder["hwnd"] and
                 companion["rect"] == holder["rect"] and button["parent"] == companion["hwnd"],
                 "%s: the button lives in the holder's companion pop-up %s (%r)"
                 % (path, when, companion))
    else:
        gc.check(button["parent"] == holder["hwnd"], "%s: the button is the holder's child %s"
                 % (path, when))


def premultiplied(r, g, b, transparency):
    """What Wine's X side shows of a layered pixel: with no compositing
    manager nothing is blended; the premultiplied pixel shows as it is, and a
    fully see-through pixel is cut out of the window's shape."""
    a = (255 - transparency) / 255
    return (round(r * a), round(g * a), round(b * a))


def screen_pixels(path, origin):
    """The layered faces on the X screen: their colours inside, what lies
    below where they are see-through, and the window untouched around them."""
    pixel = grab()
    at = lambda x, y: pixel(origin[0] + x, origin[1] + y)
    window = at(5, 5)
    panel = (0, 200, 0)
    # (what, window point, expected colour): glass 20x30 80x40, the panel
    # 150x100 120x80 holding inner 10x10 50x30 and peek 70x40 40x30.
    around = [
        ("left of glass", (17, 50), window), ("below glass", (60, 73), window),
        ("right of glass", (103, 35), window),
        ("the panel beside inner", (155, 105), panel), ("the panel below peek", (240, 173), panel),
    ]
    inside = [
        ("glass", (22, 32), premultiplied(0, 0, 128, 100)),
        ("glass", (97, 67), premultiplied(0, 0, 128, 100)),
        ("inner", (163, 113), premultiplied(10, 20, 30, 40)),
        ("peek's drawn half", (223, 143), (255, 0, 0)),
        ("peek's drawn half", (237, 167), (255, 0, 0)),
        ("peek's see-through half, the panel", (243, 143), panel),
        ("peek's see-through half, the panel", (257, 167), panel),
    ]
    # Wine gives a child window no X window of its own, and layered windows
    # are shown only through theirs: on the child path the faces do not
    # show, and only the window around them is checked.
    table = around + (inside if path == "popup" else [])
    for what, (x, y), want in table:
        got = at(x, y)
        gc.check(all(abs(got[k] - want[k]) <= 3 for k in range(3)),
                 "%s: the screen shows %s at %dx%d as %r (got %r)" % (path, what, x, y, want, got))


def run_path(mox_run, probe, emulator, path):
    os.environ["MOX_TEST_LAYERED_PATH"] = path
    program = gc.Program(emulator + [mox_run, os.path.join(HERE, "layered-faces.mox")])
    try:
        program.expect("shown")
        wins, origin, client = probe.windows()
        main = next((w for w in wins.values() if w["cls"] == "MoxWindow" and
                     w["rect"][2:] != (50, 40)), None)
        gc.check(main is not None and origin is not None, "%s: the window is found" % path)
        if main is None or origin is None:
            return
        panel = find(wins, "MoxPanel", (120, 80))
        solid = find(wins, "MoxBase", (60, 40))
        # Opaque faces stay ordinary child windows in either case.
        gc.check(solid is not None and solid["style"] & WS_CHILD and
                 not solid["exstyle"] & WS_EX_LAYERED and solid["rect"][:2] == plus(origin, 120, 30),
                 "%s: the solid face is a plain child at 120x30 (%r)" % (path, solid))
        # A borderless window with a see-through colour is layered itself.
        ghost = find(wins, "MoxWindow", (50, 40))
        gc.check(ghost is not None and ghost["exstyle"] & WS_EX_LAYERED and
                 ghost["rect"][:2] == (420, 100) and not main["exstyle"] & WS_EX_LAYERED,
                 "%s: the borderless see-through window is layered at 420x100, the framed one "
                 "is not (%r)" % (path, ghost))
        check_layered(find(wins, "MoxBase", (80, 40)), "glass", path, main, main,
                      plus(origin, 20, 30), (80, 40))
        check_layered(find(wins, "MoxBase", (50, 30)), "inner", path, main, panel,
                      plus(origin, 160, 110), (50, 30))

        check_holder(wins, path, main, origin, "at first")
        screen_pixels(path, origin)

        # Pictures: controls and the window copied from the screen, a
        # layered face with its own transparency.
        probe.post("i")
        program.expect("image button 60x24 true")
        program.expect("image field 80x24 true")
        program.expect("image window %dx%d true" % main["rect"][2:])
        program.expect("image glass 80x40 0.0.128.100 1")
        # A see-through face's draw block drawn into the picture: what it
        # left see-through stays so.
        program.expect("image peek 40x30 255.0.0.0 0.0.0.255")
        # The solid face as it shows (its colour, until the renderer draws it).
        program.expect("image solid 60x40 200.30.30.0")
        # A panel's image covers its colour, stretched over it.
        program.expect("image pic 30x30 0.0.255.0")
        program.expect("image screen true")

        # The layered faces follow the window, and a face its own offset.
        probe.post("m")
        program.expect("moved")
        wins, origin, client = probe.windows()
        gc.check(find(wins, "MoxWindow", main["rect"][2:])["rect"][:2] == (200, 150),
                 "%s: the window moved to 200x150" % path)
        check_layered(find(wins, "MoxBase", (80, 40)), "glass after the move", path, main, main,
                      plus(origin, 20, 30), (80, 40))
        check_holder(wins, path, main, origin, "after the move")
        probe.post("o")
        program.expect("inner moved")
        wins, origin, client = probe.windows()
        check_layered(find(wins, "MoxBase", (50, 30)), "inner after its move", path, main, panel,
                      plus(origin, 180, 140), (50, 30))

        # Partly outside its panel, a layered pop-up is cut by a region, which
        # goes once it is inside again; a child window is clipped by the system.
        for char, line, at, region in [("c", "inner cut", (250, 160), (0, 0, 20, 20)),
                                       ("o", "inner moved", (180, 140), (-1, -1, -1, -1))]:
            probe.post(char)
            program.expect(line)
            wins, origin, client = probe.windows()
            inner = find(wins, "MoxBase", (50, 30))
            check_layered(inner, "inner at %r" % (at,), path, main, panel, plus(origin, *at),
                          (50, 30))
            if path == "popup" and inner:
                gc.check(inner["region"] == region, "inner at %r: region %r (got %r)"
                         % (at, region, inner["region"]))

        # Hidden and shown again.
        for char, line, visible in [("h", "hidden", False), ("s", "shown again", True)]:
            probe.post(char)
            program.expect(line)
            wins, origin, client = probe.windows()
            glass = find(wins, "MoxBase", (80, 40))
            gc.check(glass is not None and glass["visible"] == visible,
                     "%s: glass visible %r after %r" % (path, visible, line))

        # Dragging and sizing by hand (the messages Wine's missing window
        # manager never sends): offset and size follow the rectangle, the
        # events carry the point.
        frame = (main["rect"][2] - client[0], main["rect"][3] - client[1])
        WM_SIZING, WM_MOVING, WM_DPICHANGED = 0x214, 0x216, 0x2E0
        probe.run("rect", TITLE, WM_MOVING, 0, 150, 160, 306, 225)
        program.expect("moving (150, 160) (150, 160)")
        probe.run("rect", TITLE, WM_SIZING, 8, 150, 160, 400, 300)
        program.expect("resizing %dx%d %dx%d" % ((400 - frame[0], 300 - frame[1]) * 2))

        # A DPI change: the window takes the suggested rectangle, its faces
        # keep their places in it and the facets follow. (Wine keeps every
        # window at 96 dpi, so that is the DPI sent.)
        out = probe.run("rect", TITLE, WM_DPICHANGED, 96 | 96 << 16, 300, 250, 400, 300)
        gc.check("sent" in out, "%s: WM_DPICHANGED sent (%r)" % (path, out.strip()))
        wins, origin, client = probe.windows()
        moved = find(wins, "MoxWindow", (400, 300))
        gc.check(moved is not None and moved["rect"][:2] == (300, 250),
                 "%s: the window took the suggested rectangle" % path)
        solid = find(wins, "MoxBase", (60, 40))
        gc.check(solid is not None and solid["rect"][:2] == plus(origin, 120, 30),
                 "%s: the solid face stays at 120x30 in the window (%r)" % (path, solid))
        check_layered(find(wins, "MoxBase", (80, 40)), "glass after the DPI change", path, main,
                      main, plus(origin, 20, 30), (80, 40))
        # A display or theme change leaves everything where it is.
        for message in [0x7E, 0x31A]:  # WM_DISPLAYCHANGE, WM_THEMECHANGED
            probe.run("rect", TITLE, message, 0, 0, 0, 1, 1)
        probe.post("p")
        program.expect("offset 300.0 250.0 size %d %d" % client)
        wins, origin, client = probe.windows()
        solid = find(wins, "MoxBase", (60, 40))
        gc.check(solid is not None and solid["rect"][:2] == plus(origin, 120, 30),
                 "%s: the solid face stays in place after a theme change (%r)" % (path, solid))

        # Maximize, minimize, restore: the state events come with offset and
        # size already in step, a maximized or restored window reports its
        # resize twice, and a minimized one no move to its parking place.
        def step(char):
            """The lines the step printed, up to the offset line that ends it."""
            probe.post(char)
            probe.post("p")
            lines = []
            while True:
                line = program.expect_any()
                if line is None or line.startswith("offset"):
                    return lines, line
                lines.append(line)

        lines, end = step("x")
        wins, origin, client = probe.windows()
        size = "%dx%d" % client
        gc.check(lines[:1] == ["maximize " + size] and lines.count("resize " + size) == 2,
                 "%s: maximize %s, then resize twice (got %r)" % (path, size, lines))

        def restored(what):
            lines, end = step("r")
            back = [l for l in lines if l.startswith("restore ")]
            gc.check(len(back) == 1 and lines.count("resize " + back[0][len("restore "):]) == 2,
                     "%s: %s: restore, then resize twice (got %r)" % (path, what, lines))

        restored("from maximized")
        lines, end = step("n")
        parked = [l for l in lines + [end or ""] if l.split()[:1] in (["move"], ["offset"]) and
                  any(float(n) < -9999 for n in re.findall(r"-?\d+(?:\.\d+)?", l))]
        gc.check("minimize" in lines and not parked,
                 "%s: minimize, and no move to the parking place (got %r, %r)" % (path, lines, end))
        restored("from minimized")

        # A solid face made see-through becomes a layered window in its place.
        probe.post("g")
        program.expect("solid see-through")
        wins, origin, client = probe.windows()
        check_layered(find(wins, "MoxBase", (60, 40)), "solid made see-through", path, main, main,
                      plus(origin, 120, 30), (60, 40))
        probe.post("q")
        while True:
            line = program.expect_any()
            if line in (None, "end"):
                break
        gc.check(line == "end", "%s: the script ends its loop" % path)
        gc.ends_cleanly(program)
    finally:
        if program.proc.poll() is None:
            program.proc.kill()


def camera_none(mox_run, emulator):
    program = gc.Program(emulator + [mox_run, os.path.join(HERE, "camera-none.mox")])
    try:
        for line in ["No video capture hardware", "data none", "frame none",
                     "select cannot-open 3", "end"]:
            program.expect(line)
        gc.ends_cleanly(program)
    finally:
        if program.proc.poll() is None:
            program.proc.kill()


def main():
    mox_run, probe_exe = sys.argv[1], sys.argv[2]
    emulator = sys.argv[3:]
    xvfb = gc.start_display()
    try:
        probe = Probe(emulator, probe_exe)
        for path in ["popup", "child"]:
            run_path(mox_run, probe, emulator, path)
        camera_none(mox_run, emulator)
    finally:
        if xvfb:
            xvfb.terminate()


if __name__ == "__main__":
    main()
    sys.exit(1 if gc.failures else 0)
