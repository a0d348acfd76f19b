#!/usr/bin/env python3
"""Rich-text layouts of the Windows back end against DirectWrite itself.

For each case of the table below, text-probe lays the text out with
DirectWrite directly (same family, size, box, alignment and style ranges)
and prints the layout's own metrics, lines and clusters; a Mox script
generated from the same table asks the rich-text face for caret-to-offset,
offset-to-caret, offset-to-char, line-height?, line-count? and size-text.
The expected answers are computed here from the probe's numbers and from
Python's own UTF-16 lengths, so the back end's hit tests (its own layer
under Wine, where DirectWrite's HitTest* calls answer E_NOTIMPL) are held
against GetClusterMetrics and GetLineMetrics. A few error and edge rows
(bad style data, missing family, plain faces, tabs, line spacing) have
fixed answers; one styled face is drawn into an image and its backdrop and
ink colours are found where the probe's clusters put them. The script runs
a second time under MOX_GC_STRESS=1 and must print the same.

    text_check.py MOX-RUN TEXT-PROBE [EMULATOR...]
"""
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import gui_check  # noqa: E402


def lock_alive(n):
    """Whether display n's lock file names a live process."""
    try:
        with open("/tmp/.X%d-lock" % n) as f:
            os.kill(int(f.read().strip()), 0)
        return True
    except (OSError, ValueError):
        return False


def start_display():
    """gui_check's display, also over a lock its server left behind (Xvfb
    takes over a lock whose process is gone)."""
    unlocked = [n for n in range(120, 140) if not os.path.exists("/tmp/.X%d-lock" % n)]
    if os.environ.get("DISPLAY") or unlocked:
        return gui_check.start_display()
    for n in range(120, 140):
        if not lock_alive(n):
            xvfb = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1024x768x24", "-nolisten",
                                     "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.environ["DISPLAY"] = ":%d" % n
            for _ in range(50):
                if lock_alive(n) and gui_check.server_answers(n):
                    return xvfb
                time.sleep(0.1)
            return xvfb
    sys.exit("no free display for Xvfb")


FAMILY = "DejaVu Sans"
MONO = "DejaVu Sans Mono"
TOL = 0.02
LONG = "the quick brown fox jumps over the lazy dog"

# name, text, points, box (None: unbounded), Mox style data, probe styles
# (UTF-16 start, length, kind, value), para (None, or the Mox para spec with
# DirectWrite's text and paragraph alignment)
CASES = [
    ("plain", "Hello, world", 12, None, "", [], None),
    ("empty", "", 12, None, "", [], None),
    ("two-lines", "ab\ncdef\n", 12, None, "", [], None),
    ("astral", "a\U0001F600b\U0001D11Ec\u00e9d", 12, None, "", [], None),
    ("wrap-60", LONG, 12, (60, 400), "", [], None),
    ("wrap-120", LONG, 12, (120, 400), "", [], None),
    ("wrap-250", LONG, 12, (250, 400), "", [], None),
    ("bold", "bold and plain", 12, None, "1x4 bold", [(0, 4, "bold", "")], None),
    ("italic-size", "mixed sizes here", 12, None, "2x5 italic 7x5 20",
     [(1, 5, "italic", ""), (6, 5, "size", "%.4f" % (20 * 96 / 72))], None),
    ("float-size", "float sized", 12, None, "1x5 18.5", [(0, 5, "size", "%.4f" % (18.5 * 96 / 72))], None),
    ("family", "mono then sans", 12, None, '1x4 "%s"' % MONO, [(0, 4, "family", MONO)], None),
    # ranges clamped: start below 1, past the text, negative length, start
    # past the end
    ("clamp-low", "clamped low", 12, None, "0x3 bold", [(0, 2, "bold", "")], None),
    ("clamp-high", "clamped high", 12, None, "9x100 bold", [(8, 4, "bold", "")], None),
    ("clamp-negative", "negative length", 12, None, "4x-3 bold", [], None),
    ("clamp-past", "past the end", 12, None, "40x2 bold", [], None),
    ("astral-style", "x\U0001F600yz\U0001F600w", 12, None, "3x2 bold 2x1 20",
     [(3, 2, "bold", ""), (1, 2, "size", "%.4f" % (20 * 96 / 72))], None),
    ("decorations", "under strike", 12, None, "1x5 underline 255.0.0 'double 7x6 strike border 1x2 backdrop 200.200.0 1.1.1",
     [], None),
    ("single-value", "one value only", 12, None, "bold", [], None),
    ("backdrop", "MMMM MMMM", 12, (200, 40), "1x4 255.0.0 backdrop 0.0.255 6x4 0.128.0", [], None),
    # the style data made by the rich-text dialect itself
    ("rtd", "bold plain it big red bd", 12, None,
     'rtd [b ["bold"] " plain " i ["it"] " " font 20 ["big"] " " 255.0.0 ["red"] " " bg 200.200.0 ["bd"]]',
     [(0, 4, "bold", ""), (11, 2, "italic", ""), (14, 3, "size", "%.4f" % (20 * 96 / 72))], None),
    ("center", "centred", 12, (200, 100), "", [], ("align: 'center", 2, 0)),
    ("right", "to the right", 12, (200, 100), "", [], ("align: 'right", 1, 0)),
    ("middle", "middle\nof the box", 12, (200, 100), "", [], ("v-align: 'middle", 0, 2)),
    ("bottom", "at the bottom", 12, (200, 100), "", [], ("v-align: 'bottom align: 'right", 1, 1)),
]


def utf16_len(s):
    return len(s.encode("utf-16-le")) // 2


def mox_string(s):
    out = []
    for ch in s:
        if ch == "\n":
            out.append("^/")
        elif ch == "\t":
            out.append("^-")
        elif ch in '"^':
            out.append("^" + ch)
        else:
            out.append(ch)
    return '"' + "".join(out) + '"'


def hexs(s):
    return s.encode("utf-8").hex()


def probe_input(cases):
    lines = []
    for name, text, points, box, _, styles, align in cases:
        w, h = (box[0] + 0.5, box[1] + 0.5) if box else (0, 0)
        text_align, para_align = align[1:] if align else (0, 0)
        lines += ["case " + name, "font %s %.4f" % (hexs(FAMILY), points * 96 / 72),
                  "box %.4f %.4f" % (w, h), "align %d %d 0" % (text_align, para_align),
                  "text " + hexs(text)]
        for start, length, kind, value in styles:
            v = hexs(value) if kind == "family" else value
            lines.append("style %d %d %s %s" % (start, length, kind, v))
        lines.append("end")
    return "\n".join(lines) + "\n"


def parse_probe(out):
    cases, cur = {}, None
    for line in out.splitlines():
        f = line.split()
        if not f:
            continue
        if f[0] == "case":
            cur = cases[f[1]] = {"lines": [], "clusters": []}
        elif f[0] == "metrics":
            cur["metrics"] = [float(x) for x in f[1:5]] + [int(f[5])]
        elif f[0] == "line":
            cur["lines"].append((int(f[1]), int(f[2]), float(f[3]), float(f[4])))
        elif f[0] == "cluster":
            cur["clusters"].append((float(f[1]), int(f[2]), f[3] == "1"))
        elif f[0] == "natural":
            cur["natural"] = (float(f[1]), float(f[2]))
        elif f[0] == "error":
            cur["error"] = f[1]
    return cases


def places(p):
    """Clusters as (utf16 position, length, left, width, line, top, height, newline)."""
    out, pos, line, line_end, x, top = [], 0, 0, p["lines"][0][0], p["metrics"][0], p["metrics"][1]
    lines = p["lines"]
    for width, length, newline in p["clusters"]:
        while pos >= line_end and line + 1 < len(lines):
            top += lines[line][2]
            line += 1
            line_end += lines[line][0]
            x = p["metrics"][0]
        out.append((pos, length, x, width, line, top, lines[line][2], newline))
        x += width
        pos += length
    return out


def line_top(p, line):
    return p["metrics"][1] + sum(l[2] for l in p["lines"][:line])


def mox_script(cases, probe):
    s = ["id-of: func [code [block!] /local e][either error? set/any 'e try code [e/id]['ok]]"]
    for name, text, points, box, data, _, align in cases:
        f = "f-" + name
        s.append("%s: make-face 'rich-text" % f)
        s.append("%s/font: make font! [name: %s size: %d]" % (f, mox_string(FAMILY), points))
        s.append("%s/size: %s" % (f, "%dx%d" % box if box else "none"))
        if align:
            s.append("%s/para: make para! [%s]" % (f, align[0]))
        if data.startswith("rtd "):
            s.append("rtd-layout/with %s %s" % (data[4:], f))
        else:
            s.append("%s/text: %s" % (f, mox_string(text)))
            s.append("%s/data: [%s]" % (f, data))
        s.append('s: size-text %s print ["size" "%s" s/x s/y]' % (f, name))
        s.append('print ["lines" "%s" rich-text/line-count? %s]' % (name, f))
        n = len(text)
        s.append('repeat i %d [p: caret-to-offset %s i q: caret-to-offset/lower %s i '
                 'print ["c2o" "%s" i p/x p/y q/x q/y]]' % (n + 1, f, f, name))
        s.append('repeat i %d [print ["lh" "%s" i rich-text/line-height? %s i]]' % (n + 1, name, f))
        if name in probe and "error" not in probe[name]:
            for k, (x, y, _, _) in enumerate(point_queries(name, probe[name])):
                pt = "(%.4f, %.4f)" % (x, y)
                s.append('print ["o2c" "%s" %d offset-to-caret %s %s offset-to-char %s %s]'
                         % (name, k, f, pt, f, pt))
    return "\n".join(s) + "\n"


def point_queries(name, p):
    """(x, y, caret, char) rows the script asks and what DirectWrite says."""
    rows = []
    text = next(c[1] for c in CASES if c[0] == name)
    starts = [utf16_len(text[:i]) for i in range(len(text) + 1)]

    def index_of(pos):
        return max(i for i, s in enumerate(starts) if s <= pos)

    cl = places(p)
    for pos, length, left, width, line, top, height, newline in cl:
        if newline or width < 1:
            continue
        i = index_of(pos)
        y = top + height / 2
        rows.append((left + width * 0.25, y, i + 1, i + 1))
        after = index_of(pos + length)
        rows.append((left + width * 0.75, y, after + 1, i + 1))
    if not cl:
        return [(5, 5, 1, 1), (-5, -5, 1, 1)]
    # left of the first cluster, right of a one-line text
    first = cl[0]
    rows.append((first[2] - 5, first[5] + first[6] / 2, 1, 1))
    if len(p["lines"]) == 1:
        last = cl[-1]
        rows.append((last[2] + last[3] + 20, last[5] + last[6] / 2, len(text) + 1, len(text)))
    return rows


def expected_caret(text, p, i):
    """caret-to-offset of character index i (from 1) and its /lower."""
    starts = [utf16_len(text[:k]) for k in range(len(text) + 1)]
    pos = starts[max(0, min(i - 1, len(text)))]
    cl = places(p)
    total = utf16_len(text)
    if pos >= total:
        last_line = len(p["lines"]) - 1
        top = line_top(p, last_line)
        if p["lines"][-1][0] == 0 or not cl:
            x = p["metrics"][0]
        else:
            x = cl[-1][2] + cl[-1][3]
        return (x, top), (x, top + p["lines"][-1][2])
    for c in cl:
        if c[0] <= pos < c[0] + c[1]:
            return (c[2], c[5]), (c[2] + c[3], c[5] + c[6])
    raise AssertionError("no cluster holds %d" % pos)


def expected_line_height(text, p, i):
    pos = utf16_len(text[:max(0, min(i - 1, len(text)))])
    for k, line in enumerate(p["lines"]):
        if pos < line[0] or k == len(p["lines"]) - 1:
            return line[2]
        pos -= line[0]


FIXED = r'''
print ["fixed" "unknown-word" id-of [g: make-face 'rich-text g/text: "abc" g/data: [1x2 frob] size-text g]]
print ["fixed" "backdrop-at-end" id-of [g: make-face 'rich-text g/text: "abc" g/data: [1x2 backdrop] size-text g]]
print ["fixed" "backdrop-no-colour" id-of [g: make-face 'rich-text g/text: "abc" g/data: [1x2 backdrop 5] size-text g]]
print ["fixed" "backdrop-word" id-of [red-ish: 200.0.0 g: make-face 'rich-text g/text: "abc" g/data: [1x2 backdrop red-ish] size-text g]]
print ["fixed" "bad-size" id-of [g: make-face 'rich-text g/text: "abc" g/data: [1x2 0] size-text g]]
print ["fixed" "stale-after-error" id-of [g: make-face 'rich-text g/text: "abc" g/data: [1x2 frob] try [size-text g] last g/handles]]
print ["fixed" "stale-after-error-value" last g/handles]
print ["fixed" "field-caret" id-of [caret-to-offset make-face 'field 1]]
print ["fixed" "no-text" mold caret-to-offset make-face 'rich-text 1]
print ["fixed" "no-handles" mold caret-to-offset make face! [type: 'rich-text text: "abc"] 1]
g: make-face 'rich-text g/font: make font! [name: "No Such Family Anywhere" size: 12] g/text: "fallback"
s: size-text g
print ["fixed" "missing-family" all [s/x > 10 s/y > 5 rich-text/line-count? g]]
g: make-face 'rich-text g/font: make font! [name: "DejaVu Sans" size: 12] g/size: none g/text: "a^-b"
g/tabs: 50 size-text g
p: caret-to-offset g 3
print ["fixed" "tab-stop" p/x]
g: make-face 'rich-text g/font: make font! [name: "DejaVu Sans" size: 12] g/size: none g/text: "one^/two"
g/line-spacing: 40 size-text g
p: caret-to-offset g 5
print ["fixed" "line-spacing" rich-text/line-height? g 1 p/y]
g/line-spacing: 1 size-text g
print ["fixed" "line-spacing-floor" rich-text/line-height? g 1]
g: make-face 'rich-text g/font: make font! [name: "DejaVu Sans Mono" size: 12] g/size: 300x200 g/text: "abc"
n1: rich-text/line-count? g
g/text: append/dup copy "" "abc " 40
n2: rich-text/line-count? g
g/size: 1000x200
print ["fixed" "follows-changes" n1 n2 > 1 (rich-text/line-count? g) < n2]
g: make-face 'rich-text g/text: "abc" g/data: [1x2 frob-paint]
print ["fixed" "paint-error" id-of [draw 50x20 compose [text 0x0 (g)]]]
system/view/silent?: true
print ["fixed" "paint-error-silent" id-of [draw 50x20 compose [text 0x0 (g)]]]
system/view/silent?: false
'''

# The backdrop case drawn into an image: its pixels as hexadecimal RGB.
DRAWN = '''
img: draw 200x40 compose [text 0x0 (f-backdrop)]
print ["img" "backdrop" img/size/x img/size/y enbase/base img/rgb 16]
u: make-face 'rich-text u/size: 200x40 u/text: "MMMM MMMM" u/data: [1x4 underline]
u/font: make font! [name: "DejaVu Sans" size: 12]
img: draw 200x40 compose [text 0x0 (u)]
print ["img" "underline-range" img/size/x img/size/y enbase/base img/rgb 16]
u/data: none
u/font: make font! [name: "DejaVu Sans" size: 12 style: [underline] color: 0.0.200]
img: draw 200x40 compose [text 0x0 (u)]
print ["img" "underline-font" img/size/x img/size/y enbase/base img/rgb 16]
'''


# Words wider than their box: a word starts a row of its own and is cut
# where it fills one, as DirectWrite wraps on Windows (Wine's breaks no
# word). In DejaVu Sans Mono at 12 points 31 characters fill 300 pixels.
# name, text, (character index from 1, row, column) of some characters,
# rows in all.
DIGITS = "0123456789" * 30
LONG_BOX = 300
LONG_WORDS = [
    ("digits", DIGITS, [(1, 0, 0), (31, 0, 30), (32, 1, 0), (63, 2, 0), (300, 9, 20)], 10),
    ("after-word", "ab " + DIGITS[:100], [(3, 0, 2), (4, 1, 0), (34, 1, 30), (35, 2, 0), (103, 4, 6)], 5),
    ("word-then-more", DIGITS[:40] + " cd", [(31, 0, 30), (32, 1, 0), (42, 1, 10), (43, 1, 11)], 2),
]


def long_word_script():
    s = ['m: make-face \'rich-text m/font: make font! [name: %s size: 12] m/size: none' % mox_string(MONO),
         'm/text: "0123456789" s: size-text m print ["long-adv" s/x / 10]']
    for name, text, chars, _ in LONG_WORDS:
        s.append("w: make-face 'rich-text w/font: m/font w/size: %dx400 w/text: %s w/data: [1x%d 0.0.200]"
                 % (LONG_BOX, mox_string(text), len(text)))
        s.append('print ["long-rows" "%s" rich-text/line-count? w rich-text/line-height? w 1]' % name)
        s.append("lh: rich-text/line-height? w 1")
        for i, row, col in chars:
            s.append('p: caret-to-offset w %d print ["long-caret" "%s" %d p/x p/y]' % (i, name, i))
            # a quarter into the character, in the middle of its row
            s.append('q: as-point2D s/x / 10 * %s lh * %s print ["long-point" "%s" %d '
                     'offset-to-caret w q offset-to-char w q]' % (col + 0.25, row + 0.5, name, i))
        if name == "digits":
            s.append('img: draw %dx200 compose [text 0x0 (w)]' % LONG_BOX)
            s.append('print ["long-img" img/size/x img/size/y enbase/base img/rgb 16]')
    return "\n".join(s) + "\n"


def check_long_words(got, check):
    f = {}
    for line in got.splitlines():
        w = line.split()
        if w and w[0].startswith("long-"):
            f.setdefault(w[0], []).append(w[1:])
    if "long-adv" not in f or "long-rows" not in f:
        check(False, "long words: no answers")
        return
    adv = float(f["long-adv"][0][0])
    check(int(LONG_BOX / adv) == 31, "long words: 31 characters in %d pixels (advance %s)" % (LONG_BOX, adv))
    rows = {r[0]: (int(r[1]), float(r[2])) for r in f["long-rows"]}
    carets = {(r[0], int(r[1])): (float(r[2]), float(r[3])) for r in f.get("long-caret", [])}
    points = {(r[0], int(r[1])): (int(r[2]), int(r[3])) for r in f.get("long-point", [])}
    for name, text, chars, count in LONG_WORDS:
        lines, lh = rows.get(name, (0, 0.0))
        check(lines == count, "long words %s: line-count? %d, wanted %d" % (name, lines, count))
        for i, row, col in chars:
            want = (col * adv, row * lh)
            got_at = carets.get((name, i))
            check(got_at is not None and all(abs(a - b) <= 0.05 for a, b in zip(got_at, want)),
                  "long words %s: caret of %d at %r, wanted %r" % (name, i, got_at, want))
            check(points.get((name, i)) == (i, i), "long words %s: the point inside %d gives %r"
                  % (name, i, points.get((name, i))))
    # Painted as laid out: blue ink on every row, also where the rows end.
    img = f.get("long-img")
    if not img:
        check(False, "long words: no image")
        return
    width, height = int(img[0][0]), int(img[0][1])
    at = pixels(width, img[0][2])
    lh = rows["digits"][1]
    for row in range(int(min(10, height // lh))):
        for x0, x1 in ((0, adv), (30 * adv, 31 * adv)):
            ink = [at(x, y) for x in range(int(x0) + 1, int(x1)) for y in range(int(row * lh) + 2, int((row + 1) * lh) - 2)]
            filled = row < 9 or x0 == 0
            check(not filled or any(b > 120 and r < 80 and g < 80 for r, g, b in ink),
                  "long words: blue ink at row %d, x %d-%d" % (row, x0, x1))


def pixels(width, hexrgb):
    px = bytes.fromhex(hexrgb)
    return lambda x, y: tuple(px[(y * width + x) * 3:(y * width + x) * 3 + 3])


def check_underlined(name, width, height, hexrgb, p, check):
    """Ink under the baseline (where M has none) only where underlined; the
    font's colour on the font-wide underline."""
    at = pixels(width, hexrgb)
    cl = places(p)
    first = (2, int(sum(c[3] for c in cl[:4])) - 2)
    second = (int(cl[5][2]) + 2, int(cl[8][2] + cl[8][3]) - 2)
    rows = range(int(p["lines"][0][3]) + 1, int(p["lines"][0][2]))
    inked = lambda x0, x1: [x for x in range(x0, x1) if any(sum(at(x, y)) < 400 for y in rows)]
    check(len(inked(*first)) == first[1] - first[0],
          "%s: underline under all of characters 1-4 (inked %r)" % (name, inked(*first)))
    if name == "underline-range":
        check(not inked(*second), "%s: no underline under 6-9 (inked %r)" % (name, inked(*second)))
    else:
        check(len(inked(*second)) == second[1] - second[0], "%s: underline under 6-9" % name)
        ink = [at(x, y) for x in range(*first) for y in range(4, 14)]
        check(any(b > 120 and r < 60 and g < 60 for r, g, b in ink), "%s: ink in the font's colour" % name)


def check_drawn(width, height, hexrgb, p, check):
    """Backdrop under characters 1-4 (blue, whole pixels), red ink on it,
    green ink on 6-9 and white elsewhere, placed by DirectWrite's clusters."""
    px = bytes.fromhex(hexrgb)

    def at(x, y):
        i = (y * width + x) * 3
        return tuple(px[i:i + 3])

    cl = places(p)
    right = int(sum(c[3] for c in cl[:4]) + 0.5)
    bottom = int(p["lines"][0][2] + 0.99)
    green_from, green_to = int(cl[5][2]), int(cl[8][2] + cl[8][3])
    near = lambda a, b: all(abs(u - v) <= 8 for u, v in zip(a, b))
    row = [at(x, 1) for x in range(width)]
    check(all(near(c, (0, 0, 255)) for c in row[:right]),
          "backdrop blue over x 0-%d at y 1: %r" % (right, row[:right]))
    check(all(near(c, (255, 255, 255)) for c in row[right:]),
          "white after the backdrop (x %d on) at y 1" % right)
    check(all(near(at(x, y), (255, 255, 255)) for x in range(width) for y in range(bottom, height)),
          "white below the backdrop (y %d on)" % bottom)
    box = lambda x0, x1: [at(x, y) for x in range(x0, x1) for y in range(4, 14)]
    red = box(0, right)
    check(any(r > 200 and g < 60 and b < 60 for r, g, b in red), "red ink on the backdrop")
    green = box(green_from, green_to)
    check(any(g > 90 and r < 60 and b < 60 for r, g, b in green), "green ink on characters 6-9")
    check(not any(r > 200 and g < 100 for r, g, b in green), "no red ink on characters 6-9")


FIXED_EXPECTED = {
    "unknown-word": "draw-invalid",
    "backdrop-at-end": "draw-invalid",
    "backdrop-no-colour": "draw-invalid",
    "backdrop-word": "ok",
    "bad-size": "draw-invalid",
    "stale-after-error": "ok",
    "stale-after-error-value": "true",
    "field-caret": "face-type",
    "no-text": "none",
    "no-handles": "none",
    "missing-family": "1",
    "tab-stop": "50.0",
    "line-spacing": "40.0 40.0",
    "follows-changes": "1 true true",
    "paint-error": "ok",
    "paint-error-silent": "ok",
}


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300, **kw)


def main():
    mox_run, text_probe = sys.argv[1], sys.argv[2]
    emulator = sys.argv[3:]
    xvfb = start_display()
    failures = []

    def check(ok, what):
        if not ok:
            print("FAIL: " + what)
            failures.append(what)

    try:
        with tempfile.TemporaryDirectory() as tmp:
            spec = os.path.join(tmp, "cases.txt")
            with open(spec, "w") as f:
                f.write(probe_input(CASES))
            out = run(emulator + [text_probe, spec]).stdout.decode("utf-8", "replace")
            probe = parse_probe(out)
            script = os.path.join(tmp, "text-cases.mox")
            with open(script, "w", encoding="utf-8") as f:
                f.write(mox_script(CASES, probe))
                f.write(FIXED)
                f.write(DRAWN)
                f.write(long_word_script())
            got = run(emulator + [mox_run, script]).stdout.decode("utf-8", "replace")
            # The same answers with a collection at every allocation.
            stress = run(emulator + [mox_run, script], env=dict(os.environ, MOX_GC_STRESS="1"))
            check(stress.stdout.decode("utf-8", "replace") == got,
                  "the answers under MOX_GC_STRESS=1 differ")
    finally:
        if xvfb:
            xvfb.terminate()
    compare(got, probe, check)
    check_long_words(got, check)
    print("%s: %d failures" % (os.path.basename(sys.argv[0]), len(failures)))
    return failures


def close(a, b):
    return abs(a - b) <= TOL


def compare(got, probe, check):
    seen = set()
    texts = {c[0]: c[1] for c in CASES}
    for line in got.splitlines():
        f = line.split()
        if f[0] == "img" and len(f) == 5 and "backdrop" in probe:
            seen.add(("img", f[1]))
            if f[1] == "backdrop":
                check_drawn(int(f[2]), int(f[3]), f[4], probe["backdrop"], check)
            else:
                check_underlined(f[1], int(f[2]), int(f[3]), f[4], probe["backdrop"], check)
            continue
        if f and f[0].startswith("long-"):
            continue
        if len(f) < 3 or f[0] not in ("size", "lines", "c2o", "lh", "o2c", "fixed"):
            if line.strip():
                print("mox: " + line)
            continue
        kind, name = f[0], f[1]
        seen.add((kind, name))
        if kind == "fixed":
            value = " ".join(f[2:])
            if name == "line-spacing-floor":
                check(close(float(value), probe["plain"]["natural"][0]),
                      "line spacing below the line height gives the line height (got %s)" % value)
            else:
                check(value == FIXED_EXPECTED.get(name), "%s: %r, wanted %r"
                      % (name, value, FIXED_EXPECTED.get(name)))
            continue
        p = probe.get(name)
        if p is None or "error" in p:
            check(False, "%s: the probe made no layout" % name)
            continue
        text = texts[name]
        if kind == "size":
            w, h = float(f[2]), float(f[3])
            check(close(w, p["metrics"][2]) and close(h, p["metrics"][3]),
                  "%s size-text %s %s, DirectWrite %s" % (name, w, h, p["metrics"][2:4]))
        elif kind == "lines":
            check(int(f[2]) == p["metrics"][4], "%s line-count? %s, DirectWrite %d"
                  % (name, f[2], p["metrics"][4]))
        elif kind == "c2o":
            i = int(f[2])
            (x, y), (lx, ly) = expected_caret(text, p, i)
            vals = [float(v) for v in f[3:7]]
            check(all(close(a, b) for a, b in zip(vals, (x, y, lx, ly))),
                  "%s caret-to-offset %d: %s, wanted %s" % (name, i, vals, (x, y, lx, ly)))
        elif kind == "lh":
            i = int(f[2])
            want = expected_line_height(text, p, i)
            check(close(float(f[3]), want), "%s line-height? %d: %s, wanted %s"
                  % (name, i, f[3], want))
        elif kind == "o2c":
            k = int(f[2])
            x, y, caret, char = point_queries(name, p)[k]
            check((int(f[3]), int(f[4])) == (caret, char), "%s at (%.2f, %.2f): caret %s char %s, "
                  "wanted %d %d" % (name, x, y, f[3], f[4], caret, char))
    for name, *_ in CASES:
        for kind in ("size", "lines", "c2o", "lh"):
            check((kind, name) in seen, "%s: no %s answer" % (name, kind))
    for name in ("backdrop", "underline-range", "underline-font"):
        check(("img", name) in seen, "no drawn %s image" % name)
    # A style error while painting is reported once, and not under silent?.
    reports = [l for l in got.splitlines() if "DRAW - invalid input at: frob-paint" in l]
    check(len(reports) == 1, "paint errors reported: %r" % reports)
    for name in FIXED_EXPECTED:
        check(("fixed", name) in seen, "%s: no answer" % name)
    # Independent of the probe: a narrow box wraps, the widest does not.
    lines = {n: p["metrics"][4] for n, p in probe.items() if "metrics" in p}
    check(lines.get("wrap-60", 0) > lines.get("wrap-120", 0) > lines.get("wrap-250", 0) >= 1,
          "narrower boxes give more lines: %r" % lines)


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
