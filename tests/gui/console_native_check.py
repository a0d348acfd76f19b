#!/usr/bin/env python3
"""The console's launcher on the null back end (MOX_GUI_CONSOLE=1): a script
that prints nothing ends with status 0 and leaves the terminal untouched; a
script that prints shows the window with its first line and ends with the
status it quits with.

    console_native_check.py MOX
"""
import json
import os
import subprocess
import sys
import tempfile

failures = []


def check(ok, what):
    print(("ok: " if ok else "FAIL: ") + what)
    if not ok:
        failures.append(what)


def run(mox, folder, name, text, logged=True):
    script = os.path.join(folder, name + ".mox")
    log = os.path.join(folder, name + ".log")
    with open(script, "w") as f:
        f.write(text)
    env = dict(os.environ, MOX_GUI_CONSOLE="1")
    if logged:
        env["MOX_CONSOLE_LOG"] = log
    proc = subprocess.run([mox, script], env=env, capture_output=True, timeout=120)
    states = []
    if os.path.exists(log):
        with open(log, encoding="utf-8") as f:
            states = [json.loads(line) for line in f if line.strip()]
    return proc.returncode, states


def main():
    mox = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        code, states = run(mox, folder, "silent", "Mox []\nx: 1 + 2\n")
        check(code == 0, "a silent script ends with status 0 (got %r)" % code)
        check(states == [], "a silent script leaves the terminal untouched")

        code, states = run(mox, folder, "printing",
                           'Mox []\nprint "first"\nprin "a" prin "b"\nprint "c"\nquit/return 3\n')
        check(code == 3, "quit/return 3 gives the status 3 (got %r)" % code)
        first = states[0] if states else {}
        check(first.get("visible") is True and first.get("lines") == ["first"],
              "the window is shown with the first printed line (got %r)" % first)
        last = states[-1] if states else {}
        check(last.get("lines") == ["first", "abc"], "prin and print share a line (got %r)"
              % last.get("lines"))

        # Recursions that print at every level until the stacks are full,
        # each level taking one more cell (locals) or more frames (nested
        # eithers) than the last, so that the overflow meets print at every
        # step of the terminal's work: each gives a stack-overflow error to
        # its try, and the terminal's per-line series stay in step.
        code, _ = run(mox, folder, "deep", DEEP, logged=False)
        check(code == 3, "printing at the stack's end raises stack-overflow in the caller "
              "and leaves the terminal in step (status %r)" % code)

    sys.exit(1 if failures else 0)


DEEP = """Mox []
t: gui-console-ctx/terminal
t/max-lines: 20
bad: copy []
repeat k 16 [
    locals: copy [/local]
    repeat i k [append locals to word! rejoin ["l" i]]
    r: func compose [n (locals)] [if n > 2500 [print "deep"] r n + 1]
    f: func compose [n (locals)] [if n > 2500 [prin "."] either n > 0 [either n > 0 [f n + 1][]][]]
    foreach test [[r 1] [f 1]] [
        e: try test
        unless all [error? e e/id = 'stack-overflow] [append bad k]
        sum: 0
        foreach c t/nlines [sum: sum + c]
        unless all [
            (length? t/lines) = length? t/nlines
            (length? t/lines) = length? t/heights
            (length? t/lines) = length? t/flags
            sum = t/line-cnt
        ] [append bad k]
    ]
]
quit/return either empty? bad [3] [4]
"""


if __name__ == "__main__":
    main()
