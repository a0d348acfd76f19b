#!/usr/bin/env python3
"""Checks what the library's case tables cannot: exit statuses, and text
printed to standard output by quit, ??, probe, write-stdout and last-lf?.

Usage: library_check.py MOX-RUN [EMULATOR]

Each script runs twice: with the native bodies bound and with --mox-bodies;
then the switch itself (the flag and MOX_MOX_BODIES=1) is checked.
"""
import os
import subprocess
import sys
import tempfile

failures = []

# (script, expected exit status, expected standard output)
SCRIPTS = [
    ('print "before" quit/return 3 print "after"', 3, "before\n"),
    ('prin "x" quit print "after"', 0, "x"),
    # The console's configuration saver runs first; its failure, or its
    # absence, does not stop the exit.
    ('_save-cfg: does [print "saving" 1 / 0] quit/return 4', 4, "saving\n"),
    ('_save-cfg: does [throw 1] quit/return 5', 5, ""),
    ('_save-cfg: does [quit-return 9] quit/return 5', 9, ""),
    ('_save-cfg: 12 quit/return 6', 6, ""),
    ('quit-return 7', 7, ""),
    ('quit-return -1', 255, ""),
    ('attempt [quit/return 8] print "after"', 8, ""),
    ('x: 5 ?? x', 0, "x: 5\n"),
    ('?? no-such-word-here', 0, "no-such-word-here: unset!\n"),
    ('o: make object! [a: [1 "b"]] ?? o/a', 0, 'o/a: [1 "b"]\n'),
    ('f: does [1] ?? f', 0, "f: func [][1]\n"),
    ('x: probe [1 "a"] probe x/2', 0, '[1 "a"]\n"a"\n'),
    ('probe ()', 0, "unset\n"),
    ('write-stdout "abc" write-stdout 12', 0, "abc12"),
    ('prin "a" print last-lf? print last-lf?', 0, "afalse\ntrue\n"),
]


# Which body first runs shows through a redefined pick, which only its Mox
# body calls.
SWITCH_SCRIPT = 'pick: func [s i] ["mox body"] print first [1]'


def run(mox_run, emulator, extra, script, env=None):
    with tempfile.NamedTemporaryFile("w", suffix=".mox", delete=False, encoding="utf-8") as f:
        f.write(script + "\n")
        path = f.name
    try:
        cmd = emulator + [mox_run] + extra
        cmd.append(("Z:" + path.replace("/", "\\")) if emulator else path)
        p = subprocess.run(cmd, capture_output=True, timeout=120,
                           env=dict(os.environ, **(env or {})))
        return p.returncode, p.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
    finally:
        os.unlink(path)


def main():
    mox_run = sys.argv[1]
    emulator = sys.argv[2:] if len(sys.argv) > 2 and sys.argv[2] else []
    for extra in ([], ["--mox-bodies"]):
        for script, status, output in SCRIPTS:
            got_status, got_output = run(mox_run, emulator, extra, script)
            if got_status != status or got_output != output:
                failures.append(f"{' '.join(extra)} {script!r}: expected {status} {output!r}, "
                                f"got {got_status} {got_output!r}")
    for extra, env, expected in (([], {}, "1\n"), (["--mox-bodies"], {}, "mox body\n"),
                                 ([], {"MOX_MOX_BODIES": "1"}, "mox body\n")):
        got = run(mox_run, emulator, extra, SWITCH_SCRIPT, env)
        if got != (0, expected):
            failures.append(f"switch {extra} {env}: expected {expected!r}, got {got!r}")
    for f in failures:
        print("FAIL", f)
    print(f"{2 * len(SCRIPTS) + 3 - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
