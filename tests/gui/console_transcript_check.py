#!/usr/bin/env python3
"""The GUI console's transcripts under Wine, through the real console.

Three kinds of check, each reading the state the terminal writes at every
prompt, key and output to the file named by MOX_CONSOLE_LOG:

- scripts that print (prin and print line states, max-lines 3 with a to g,
  250 line feeds, 100,001 characters, an endless prin), run once on the
  Windows back end and once on the null back end of the same program
  (MOX_NULL_GUI=1); every logged state of both runs is checked against the
  lines the output rules give for that run's columns, so that a difference
  between the back ends shows as the run that breaks them;
- a typed session (xdotool keys into the window): the banner, 1 + 2, a
  block with its "[    " cues, an error, "(escape)", "(halted)", a cut
  result, prin states, 250 line feeds and 100,001 characters; each is
  compared with the transcript of the console engine without a window
  (mox-run --console at the window's columns), the cut of long output
  apart, which only the terminal makes; ask/hide; the drawn screen has ink
  in the rows that hold text and nowhere else (XGetImage);
- pasted lines of 60,000 characters and of 1 MB stay editable: Backspace,
  typing, Home, Delete and Ctrl+Z act on them, and Enter runs them.

    console_transcript_check.py MOX-EXE MOX-RUN-EXE [EMULATOR...]

Needs an X display: the one in DISPLAY, else an Xvfb of its own. Every wait
is a guard against a hang, not a measurement.
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import console_check  # noqa: E402  (the console's start, window and screen helpers)
import gui_check  # noqa: E402  (its display and xdotool helpers)

WAIT = 120  # seconds before a missing state counts as a failure
check = gui_check.check
xdotool = gui_check.xdotool


class Log:
    """The terminal's states as the program appends them, read on from where
    the last read stopped (states holding a 1 MB line make rereading the
    whole file each time too slow)."""

    def __init__(self, path, proc=None):
        self.path = path
        self.proc = proc
        self.offset = 0
        self.partial = b""
        self.states = []

    def read(self):
        try:
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                data = f.read()
        except OSError:
            return self.states
        self.offset += len(data)
        data = self.partial + data
        lines = data.split(b"\n")
        self.partial = lines.pop()
        for line in lines:
            if line.strip():
                self.states.append(json.loads(line.decode("utf-8")))
        return self.states

    def last(self):
        got = self.read()
        return got[-1]["counter"] if got else 0

    def wait(self, wanted, what, after=0):
        """The first state past counter `after` for which wanted(state) holds."""
        deadline = time.monotonic() + WAIT
        seen = 0
        while time.monotonic() < deadline:
            got = self.read()
            for r in got[seen:]:
                if r["counter"] > after and wanted(r):
                    return r
            seen = len(got)
            if self.proc is not None and self.proc.poll() is not None:
                check(False, "%s (the program ended with status %r)" % (what, self.proc.returncode))
                return None
            time.sleep(0.1)
        got = self.read()
        last = got[-1] if got else None
        if last:
            last = dict(last, lines=[l[:100] for l in last["lines"][-8:]], input=last["input"][:100],
                        history=[h[:100] for h in last["history"]])
        check(False, "%s (last state: %r)" % (what, last))
        return None


def chunks(text, n):
    return [text[i:i + n] for i in range(0, len(text), n)]


def cut(text):
    """Output above 100,000 characters keeps its first 90,000 and its last
    10,000 with a line "..." between them."""
    return text[:90000] + "\n...\n" + text[-10000:] if len(text) > 100000 else text


def new_lines(text, cols):
    """The lines one printed line of output adds: a line of 30 times the
    columns or more is split into rows of the columns."""
    return [text] if len(text) < 30 * cols else chunks(text, cols)


# --- scripts on both back ends ---------------------------------------------------

def prin_states(lines):
    return lambda cols: lines


def letters_ring(cols):
    return ["e", "f", "g"]


def feeds(cols):
    return [""] * 251


def hundred_thousand(cols):
    head, dots, tail = cut("x" * 100001).split("\n")
    return new_lines(head, cols) + [dots] + new_lines(tail, cols)


def endless_prin(cols):
    # An open line that reaches 30 times the columns keeps its first row
    # and goes on in rows of the columns, its tail left open.
    lines = [""]
    for _ in range(50):
        s = lines[-1] + "m" * 100
        if len(s) >= 30 * cols:
            lines[-1] = s[:cols]
            rest = s[cols:]
            while len(rest) > cols:
                lines.append(rest[:cols])
                rest = rest[cols:]
            lines.append(rest)
        else:
            lines[-1] = s
    return lines


SCRIPTS = [
    # title, code, the lines at the end for the run's columns
    ("prin, prin, print make one line", 'prin "a" prin "b" print "c"', prin_states(["abc"])),
    ("print after prin completes the open line", 'prin "a" print "x" print "y"', prin_states(["ax", "y"])),
    ("prin after print opens a new line", 'print "a" prin "b" prin "c"', prin_states(["a", "bc"])),
    ("a line feed inside and at the end of the text", 'print "a^/b" print "c^/"',
     prin_states(["a", "b", "c", ""])),
    ("line feeds inside prin", 'prin "x" prin "y^/z" prin "w" print ""', prin_states(["xy", "zw"])),
    ("max-lines 3 keeps the last three of a to g",
     'gui-console-ctx/terminal/max-lines: 3 foreach s ["a" "b" "c" "d" "e" "f" "g"][print s]', letters_ring),
    ("250 line feeds in one output", 'print append/dup copy "" #"^/" 250', feeds),
    ("100,001 characters: the first 90,000, a line ..., the last 10,000",
     'print append/dup copy "" #"x" 100001', hundred_thousand),
    ("an endless prin is split like new lines", 'loop 50 [prin append/dup copy "" #"m" 100]', endless_prin),
    ("a line without blanks wider than the face is wrapped into rows",
     'print append/dup copy "" "0123456789" 30 print "end"', prin_states(["0123456789" * 30, "end"])),
]


def per_row(state):
    """Characters of the console's fixed font that fit on a row of the text
    box (the face less 20 pixels for the scroll bar); the terminal's
    char-width is a tenth of ten characters' width and 1."""
    width = int(state["size"].split("x")[0]) - 20
    return max(1, int((width + 0.5) / (state["char-width"] - 0.1)))


def wrapped(line, n):
    """The rows of a line at n characters a row: a row ends after the last
    blank that lets the next word fit (blanks at a row's end take no room);
    a word longer than a row starts one and is cut where each row is full."""
    rows = [""]
    for word in re.findall(r"[^ ]+ *| +", line):
        ink = word.rstrip(" ")
        if rows[-1].rstrip(" ") != rows[-1] and len(rows[-1]) + len(ink) > n:
            rows.append("")
        while len(rows[-1]) + len(ink) > n:
            cut = n - len(rows[-1])
            rows[-1] += ink[:cut]
            ink = ink[cut:]
            rows.append("")
        rows[-1] += ink + word[len(word.rstrip(" ")):]
    return rows


def rows_for(line, state):
    return len(wrapped(line, per_row(state)))


def run_script(mox_exe, emulator, folder, name, code, null):
    script = os.path.join(folder, name + ".mox")
    with open(script, "w") as f:
        f.write("Mox []\n%s\nquit/return 0\n" % code)
    log = os.path.join(folder, name + ".log")
    extra = {"MOX_NULL_GUI": "1", "MOX_GUI_CONSOLE": "1"} if null else {}
    proc = console_check.start(mox_exe, emulator, [script], log, MOX_CARET_BLINK_TIME="4294967295", **extra)
    code = console_check.quit_status(proc, log)
    # The output's states; the record of the closing quit is not one.
    return code, [r for r in Log(log).read() if r["event"] != "quit"]


def shown_lines(state, lines):
    """The lines a state shows for a buffer of `lines`: from top to the end."""
    return lines[state["top"] - 1:]


def scripts(mox_exe, emulator, folder):
    for n, (title, code, expected) in enumerate(SCRIPTS):
        finals = {}
        for null in (False, True):
            where = "null back end" if null else "Windows back end"
            status, states = run_script(mox_exe, emulator, folder, "s%d%s" % (n, "n" if null else "w"), code, null)
            check(status == 0 and states, "%s, %s: the script ran (status %r, %d states)"
                  % (title, where, status, len(states)))
            if not states:
                continue
            last = states[-1]
            cols = last["columns"]
            want = expected(cols)
            shown = shown_lines(last, want)
            check(last["lines"] == shown and last["line-cnt"] >= len(want),
                  "%s, %s (%d columns): %d lines shown from %r of %d, %d rows (got %d lines %r, %r rows)"
                  % (title, where, cols, len(shown), last["top"], len(want), len(want), len(last["lines"]),
                     [l[:12] for l in last["lines"][-4:]], last["line-cnt"]))
            if expected is letters_ring:
                # Every state on the way: the last three lines printed.
                got = [s["lines"] for s in states]
                want_all = [list("abcdefg"[max(0, k - 2):k + 1]) for k in range(7)]
                check(got == want_all, "%s, %s: the ring at each line (got %r)" % (title, where, got))
                check(last["line-cnt"] == 3, "%s, %s: line-cnt 3 (got %r)" % (title, where, last["line-cnt"]))
            if len(want) > last["page-cnt"]:
                # A buffer longer than the page shows its last page.
                check(len(shown) == last["page-cnt"] and last["scroll-y"] == 0,
                      "%s, %s: the last page of %d rows is shown (top %r, scroll-y %r)"
                      % (title, where, last["page-cnt"], last["top"], last["scroll-y"]))
            # The row counts of every line but an open last one, which
            # only the next paint measures.
            rows = [rows_for(l, last) for l in last["lines"]]
            check(last["rows-of"][:-1] == rows[:-1],
                  "%s, %s: each line takes the rows its length needs at %d characters a row (got %r, want %r)"
                  % (title, where, per_row(last), last["rows-of"][-12:-1], rows[-12:-1]))
            if all(len(l) <= cols for l in want):
                check(last["line-cnt"] == len(want),
                      "%s, %s: lines no longer than the columns take one row each (%r rows for %d lines)"
                      % (title, where, last["line-cnt"], len(want)))
            finals[null] = last
        cols = [f["columns"] for f in finals.values()]
        if len(finals) == 2 and expected(cols[0]) == expected(cols[1]) and finals[False]["top"] == finals[True]["top"]:
            check(finals[False]["lines"] == finals[True]["lines"], "%s: both back ends end with the same lines" % title)


# --- the typed session ---------------------------------------------------------------

ESC = "\x1b"

CASES = [
    # title, lines typed (ESC at the end: the line ends with Esc, not Enter)
    ("1 + 2", ["1 + 2"]),
    ("a block over three lines with its cues", ["[", "1 2", "]"]),
    ("an error", ["no-such-word"]),
    ("Esc drops the input", ["abc" + ESC]),
    ("halt", ["halt"]),
    ("a result cut at the columns", ['append/dup copy "" #"y" 300']),
    ("prin states and the prompt after an open line", ['prin "a" prin "b"', 'print "c"', 'prin "x" print "y"']),
    ("250 line feeds", ['print append/dup copy "" #"^/" 250']),
    ("100,001 characters", ['print append/dup copy "" #"x" 100001']),
    ("a line without blanks wrapped into rows", ['print append/dup copy "" "0123456789" 30']),
]


def headless(mox_run, emulator, inputs, cols, rows):
    """The engine's transcript without a window: prompts, echoed lines and
    output, the banner's lines first."""
    got = subprocess.run(emulator + [mox_run, "--console", "--size=%dx%d" % (cols, rows)],
                         input=("\n".join(inputs) + "\n").encode("utf-8"), capture_output=True,
                         timeout=WAIT)
    text = got.stdout.decode("utf-8", "replace").replace("\r", "")
    return text.split("\n")


def terminal_lines(lines, cols):
    """Printed lines as the terminal holds them: each output cut and split
    (the engine prints a long result as one line)."""
    out = []
    for line in lines:
        for piece in cut(line).split("\n"):
            out.extend(new_lines(piece, cols))
    return out


def same_lines(got, want):
    """Line for line the same, but for an error's call stack: the console's
    own launch calls the engine's, so its stack holds the engine's and more
    below it."""
    stack = "*** Stack: "
    if len(got) != len(want):
        return False
    for g, w in zip(got, want):
        if g.startswith(stack) and w.startswith(stack):
            names = w[len(stack):].split()
            if g[len(stack):].split()[-len(names):] != names:
                return False
        elif g != w:
            return False
    return True


class Session:
    def __init__(self, mox_exe, emulator, folder, name):
        self.path = os.path.join(folder, name + ".log")
        # A caret that does not blink keeps the grabs steady.
        self.proc = console_check.start(mox_exe, emulator, [], self.path, MOX_CARET_BLINK_TIME="4294967295")
        self.log = Log(self.path, self.proc)
        self.first = self.log.wait(lambda r: r["event"] == "ask", "the first prompt (%s)" % name)
        self.window = console_check.find_window() if self.first else None
        check(self.window is not None, "the console window is found (%s)" % name)
        if self.window:
            console_check.point_at(self.window)

    def keys(self, *names, what):
        mark = self.log.last()
        for k in names:
            xdotool("key", k)
        return self.log.wait(lambda r: r["event"] == "key" and r["counter"] >= mark + len(names), what, mark)

    def line(self, text, what):
        """Types a line and ends it with Enter (Esc when it ends with ESC);
        the next prompt's state."""
        mark = self.log.last()
        esc = text.endswith(ESC)
        if esc:
            text = text[:-1]
        if text:
            xdotool("type", "--delay", "30", text)
        xdotool("key", "Escape" if esc else "Return")
        return self.log.wait(lambda r: r["event"] == "ask", what, mark)

    def clean(self):
        return self.keys("ctrl+l", what="Ctrl+L leaves the prompt line")

    def end(self, quit=True):
        if quit and self.proc.poll() is None:
            xdotool("key", "ctrl+k")
            xdotool("type", "--delay", "30", "quit")
            xdotool("key", "Return")
            code = console_check.quit_status(self.proc, self.path)
            check(code == 0, "quit ends the console with status 0 (got %r)" % code)
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def banner_check(s, mox_run, emulator):
    cols, rows = s.first["columns"], s.first["rows"]
    want = headless(mox_run, emulator, [], cols, rows)
    # The engine's transcript: the banner, a blank line, then the prompt.
    at = want.index(">> ") if ">> " in want else len(want)
    check(s.first["lines"] == want[:at + 1], "the banner and the first prompt (got %r, engine %r)"
          % (s.first["lines"], want[:at + 1]))
    check(s.first["lines"][0].startswith("--== Mox "), "the banner names Mox")


def screen_check(s, state, what):
    time.sleep(1.5)  # the paint follows the state
    screen = console_check.Screen(console_check.X(), s.window, state)
    if screen.top is None:
        check(False, "the console face is found on the screen (%s)" % what)
        return
    console_check.inked_rows(screen, state["lines"], what, state["rows-of"])
    # A wrapped line's rows are drawn whole: each full row has ink up to
    # its last character's place, the last row up to the line's end.
    cw = state["char-width"] - 0.1
    k = 0
    for line, rows in zip(state["lines"], state["rows-of"]):
        parts = wrapped(line, per_row(state))
        for r in range(rows if rows > 1 else 0):
            chars = len(parts[r].rstrip(" ")) if r < len(parts) else 0
            box = screen.ink_box(k + r)
            right = 3 + chars * cw  # the terminal's left margin is 3 pixels
            check(box is not None and right - 2 * cw <= box[2] <= right,
                  "%s: row %d of a wrapped line has ink up to x %.0f (got %r)" % (what, r + 1, right, box))
        k += rows


def session(mox_exe, mox_run, emulator, folder):
    s = Session(mox_exe, emulator, folder, "session")
    try:
        if not s.window:
            return
        banner_check(s, mox_run, emulator)
        for title, inputs in CASES:
            if not s.clean():
                return
            state = None
            for k, text in enumerate(inputs):
                state = s.line(text, "%s: the prompt after line %d" % (title, k + 1))
                if state is None:
                    return
            cols, rows = state["columns"], state["rows"]
            engine = headless(mox_run, emulator, inputs, cols, rows)
            # From the first prompt on; the engine's last line is the prompt
            # it was left at, followed by the end of its output.
            at = next((k for k, l in enumerate(engine) if l.startswith(">> ")), 0)
            engine = engine[at:]
            while engine and engine[-1] == "":
                engine.pop()
            want = terminal_lines(engine, cols)
            got = state["lines"]
            shown = want[state["top"] - 1:] if len(want) > len(got) else want
            check(same_lines(got, shown), "%s: the screen's lines are the engine's transcript (%d columns; got %r, want %r)"
                  % (title, cols, [l[:40] for l in got[-8:]], [l[:40] for l in shown[-8:]]))
            if title in ("250 line feeds", "100,001 characters", "a block over three lines with its cues",
                         "a line without blanks wrapped into rows"):
                screen_check(s, state, title)
        # ask/hide: the prompt and a star for each typed character.
        s.clean()
        r = s.line('length? secret: ask/hide "pw: "', "ask/hide asks")
        if r:
            check(r["lines"][-1] == "pw: ", "ask/hide shows its prompt (got %r)" % r["lines"][-1:])
        r = s.line("abcd", "the hidden answer is entered")
        if r:
            check(r["lines"][-3:] == ["pw: ****", "== 4", ">> "],
                  "the hidden answer is drawn as stars (got %r)" % r["lines"][-3:])
            check("abcd" not in r["history"], "the hidden answer is not in the history")
            screen_check(s, r, "after a hidden answer")
        r = s.line("print secret", "the hidden answer is kept")
        check(r is not None and r["lines"][-2] == "abcd", "the answer is the typed text")
    finally:
        s.end()


def caret_check(s, name):
    """The caret at the end of a wrapped input line stands after its last
    character, on its last row. The caret is placed when the line is
    painted, after the key's state: End, which leaves it there, shows it."""
    time.sleep(1.5)
    r = s.keys("End", what="%s: End" % name)
    if r is None:
        return
    line, rows = r["lines"][-1], r["rows-of"][-1]
    check(rows == rows_for(line, r) > 1, "%s: the line takes %d rows (got %r)" % (name, rows_for(line, r), rows))
    cw = r["char-width"] - 0.1
    n = per_row(r)
    x = 3 + len(wrapped(line, n)[-1]) * cw
    y = (sum(r["rows-of"][:-1]) + rows - 1) * r["line-h"] + r["scroll-y"]
    got = [float(v) for v in r["caret-at"].split("x")]
    check(abs(got[0] - x) <= 2 and abs(got[1] - y) <= 1,
          "%s: the caret is at the line's end, (%.0f, %d) (got %r)" % (name, x, y, r["caret-at"]))


def big_paste(mox_exe, emulator, folder, size, name):
    """A long pasted line: edited at both ends, then run."""
    body = "x" * size
    text = 'length? "%s"' % body
    s = Session(mox_exe, emulator, folder, "paste-" + name)
    owner = None
    try:
        if not s.window:
            return
        owner = console_check.xclip_in(text)
        mark = s.log.last()
        xdotool("key", "ctrl+v")
        r = s.log.wait(lambda r: r["event"] == "key" and len(r["input"]) == len(text), "the %s line is pasted" % name,
                       mark)
        if r is None:
            return
        check(r["input"] == text and r["caret"] == len(text),
              "%s: the pasted line is the clipboard's, caret at its end" % name)
        if size < 1000:
            caret_check(s, name)
        steps = [
            (["BackSpace"], text[:-1], len(text) - 1, "Backspace removes its last character"),
            (["quotedbl"], text, len(text), "a typed character goes to its end"),
            (["Home"], text, 0, "Home goes to its start"),
            (["Delete"] * 8, text[8:], 0, "Delete removes from its start"),
            (["ctrl+z"], text[7:], None, "Ctrl+Z gives back the last deleted character"),
            (["End", "Left", "Left"], text[7:], len(text) - 9, "End and Left move along it"),
            (["ctrl+a", "l", "e", "n", "g", "t", "h", "question"], text, 7, "typed at its start after Ctrl+A"),
        ]
        for names, want, caret, what in steps:
            t0 = time.monotonic()
            r = s.keys(*names, what="%s: %s" % (name, what))
            if r is None:
                return
            check(r["input"] == want and caret in (None, r["caret"]),
                  "%s: %s (input %d characters starting %r, caret %r; %.1f s)"
                  % (name, what, len(r["input"]), r["input"][:12], r["caret"], time.monotonic() - t0))
        mark = s.log.last()
        xdotool("key", "Return")
        r = s.log.wait(lambda r: r["event"] == "ask", "the %s line runs" % name, mark)
        check(r is not None and r["lines"][-2:] == ["== %d" % len(body), ">> "],
              "the %s line runs to its length (got %r)" % (name, r and [l[:40] for l in r["lines"][-3:]]))
        # Leave no long entry in the history the configuration keeps. The
        # screen is cleared first: every key repaints the lines on screen,
        # and laying out the run line again at each key makes the typing
        # crawl on a loaded machine.
        s.clean()
        r = s.line("remove next system/console/history", "the entry removed")
        check(r is not None and all(len(h) < 100 for h in r["history"]), "%s: the line left the history" % name)
    finally:
        if owner:
            owner.kill()
            owner.wait()
        s.end()


def short_clipboard(mox_exe, emulator, folder):
    """Leaves a short text on the clipboard, read once by the console: the
    system's copy of a long pasted line would otherwise outlive this check
    and be pasted by the next console that pastes."""
    s = Session(mox_exe, emulator, folder, "short-clipboard")
    owner = None
    try:
        if not s.window:
            return
        owner = console_check.xclip_in("1 + 1")
        mark = s.log.last()
        xdotool("key", "ctrl+v")
        s.log.wait(lambda r: r["event"] == "key" and r["input"] == "1 + 1", "a short line is pasted", mark)
    finally:
        if owner:
            owner.kill()
            owner.wait()
        s.end()


def main():
    mox_exe, mox_run, emulator = sys.argv[1], sys.argv[2], sys.argv[3:]
    xvfb = gui_check.start_display()
    try:
        with tempfile.TemporaryDirectory() as folder:
            scripts(mox_exe, emulator, folder)
            session(mox_exe, mox_run, emulator, folder)
            # Below and far above the 65,536 characters where a text layout
            # under Wine has failed.
            try:
                big_paste(mox_exe, emulator, folder, 300, "300-character")
                big_paste(mox_exe, emulator, folder, 60000, "60,000-character")
                big_paste(mox_exe, emulator, folder, 1 << 20, "1 MB")
            finally:
                short_clipboard(mox_exe, emulator, folder)
    finally:
        if xvfb:
            xvfb.kill()


if __name__ == "__main__":
    main()
    sys.exit(1 if gui_check.failures else 0)
