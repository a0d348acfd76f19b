#!/usr/bin/env python3
"""Drives the console engine through mox-run --console and compares the
transcript (prompts, echoed lines, output) with the expected one.

A case is (title, command-line arguments, lines fed on standard input,
expected transcript). In the expected text a line ending in "..." matches
any line starting with what comes before it (for absolute paths, which
differ between the builds). The banner of an interactive start is checked
once and replaced by the line "<banner>".

usage: transcripts.py MOX-RUN [EMULATOR...]
"""
import os
import subprocess
import sys
import tempfile

ESC = "\x1b"

FIXTURES = {
    "ok.mox": '#!/bin/sh\nMox [Title: "ok"]\nprint "script ran"\n',
    "spaced.mox": 'Mox\n\n  [Title: "spaced"]\nprint ["args:" mold system/options/args]\n',
    "noheader.mox": 'print "no header"\n',
    "system.mox": 'Mox/System []\nx: 1\n',
    "unloadable.mox": 'x: {Mox [}\n',
    "fails.mox": 'Mox []\n1 / 0\n',
    "badpp.mox": 'Mox []\n#trace maybe\nprint "never"\n',
    "halts.mox": 'Mox []\nprint "before"\nhalt\nprint "after"\n',
    "--odd.mox": 'Mox []\nprint "odd name"\n',
}

CASES = [
    ("values, strings and floats", [], ["1 + 2", '"abc"', "x: 1.5", "x", "none"],
     """<banner>
>> 1 + 2
== 3
>> "abc"
== "abc"
>> x: 1.5
== 1.5
>> x
== 1.5
>> none
== none
>> 
"""),
    ("an empty line and unset results print nothing", [], ["", "print 'hi", "()"],
     """<banner>
>> 
>> print 'hi
hi
>> ()
>> 
"""),
    ("an open block asks for more with its cue", [], ["[", "", "1 2", "]"],
     """<banner>
>> [
[    
[    1 2
[    ]
== [
    1 2
]
>> 
"""),
    ("parens, tags, binaries and raw strings keep the input open", [],
     ["(1 +", "2)", "<a", ">", "#{00", "}", "%{x", "}%"],
     """<banner>
>> (1 +
(    2)
== 3
>> <a
<    >
== <a
>
>> #{00
{    }
== #{00}
>> %{x
{    }%
== "x^/"
>> 
"""),
    ("escape drops the pending lines; an unopened close is an error at once", [],
     ["[1", "2" + ESC, ESC, "]"],
     """<banner>
>> [1
[    2\x1b
(escape)
>> \x1b
(escape)
>> ]
*** Syntax Error: (line 1) missing [ at ]...
*** Where:...
*** Near :...
*** Stack:...
>> 
"""),
    ("errors are reported with an empty line; halts print (halted)", [],
     ["1 / 0", "halt", "'halt-request"],
     """<banner>
>> 1 / 0
*** Math Error: attempt to divide by zero
*** Where:...
*** Near : 1 / 0
*** Stack:...

>> halt
(halted)
>> 'halt-request
(halted)
>> 
"""),
    ("long results are cut at the terminal width", [],
     ['append/dup copy "" "x" 100'],
     """<banner>
>> append/dup copy "" "x" 100
== {""" + "x" * 72 + """...
>> 
"""),
    ("a wider terminal cuts later", ["--size=100x30"],
     ['append/dup copy "" "x" 100'],
     """<banner>
>> append/dup copy "" "x" 100
== {""" + "x" * 92 + """...
>> 
"""),
    ("a terminal with no size prints results uncut", ["--size=0x0"],
     ['append/dup copy "" "x" 100'],
     """<banner>
>> append/dup copy "" "x" 100
== {""" + "x" * 100 + """}
>> 
"""),
    ("prompt and result functions, and their failures", [],
     ["system/console/prompt: 7", "1", "system/console/prompt: does [1 / 0]", "2", "3",
      "system/console/result: does [1 / 0]", "4",
      'system/console/result: does ["=>"]', "5"],
     """<banner>
>> system/console/prompt: 7
== 7
71
== 1
7system/console/prompt: does [1 / 0]
== func [][1 / 0]
*** Math Error: attempt to divide by zero
*** Where: system/console/prompt
*** Near : 1 / 0
*** Stack:...
>> 2
== 2
>> 3
== 3
>> system/console/result: does [1 / 0]
*** Math Error: attempt to divide by zero
*** Where: system/console/result
*** Near : 1 / 0
*** Stack:...
== func [][1 / 0]
>> 4
*** Math Error: attempt to divide by zero
*** Where: system/console/result
*** Near : 1 / 0
*** Stack:...
== 4
>> system/console/result: does ["=>"]
=> func []["=>"]
>> 5
=> 5
>> 
"""),
    ("history records entered lines once, not escapes", [],
     ["1", "1", "2", "x" + ESC, "", "system/console/history"],
     """<banner>
>> 1
== 1
>> 1
== 1
>> 2
== 2
>> x\x1b
(escape)
>> 
>> system/console/history
== ["system/console/history" "2" "1"]
>> 
"""),
    ("expand shows the preprocessor's output, traced on request", [],
     ["expand [#trace on #if 1 < 2 [a] #do keep [1 + 1] #trace off]"],
     """<banner>
>> expand [#trace on #if 1 < 2 [a] #do keep [1 + 1] #trace off]
preproc: #if [1 < 2]
preproc: == true
preproc: eval [1 + 1]
preproc: == 2
[a 2]
== [a 2]
>> 
"""),
    ("the console's words are its own: value stays the user's", [],
     ["value: 10", "1 + 1", "value"],
     """<banner>
>> value: 10
== 10
>> 1 + 1
== 2
>> value
== 10
>> 
"""),
    ("braced strings and points left open ask for more, also inside a block", [],
     ["print {a", "b}", "[x: {", "}]", "(1, 2", ")", "(1,", "2,", "3)"],
     """<banner>
>> print {a
{    b}
a
b
>> [x: {
{    }]
== [x: "^/"]
>> (1, 2
(    )
== (1, 2)
>> (1,
(    2,
(    3)
== (1, 2, 3)
>> 
"""),
    ("a script runs and the program ends", ["ok.mox"], [], "script ran\n"),
    ("text before the header is skipped; white space before its block; script args",
     ["spaced.mox", "a", "b c"], [], 'args: ["a" "b c"]\n'),
    ("--catch keeps the console open, without banner", ["--catch", "ok.mox"], ["1"],
     """script ran
>> 1
== 1
>> 
"""),
    ("-- ends the options", ["--", "--odd.mox"], [], "odd name\n"),
    ("options only start the prompt", ["--foo"], ["1"],
     """<banner>
>> 1
== 1
>> 
"""),
    ("no header", ["noheader.mox"], [], "*** Error: Mox header not found!\n"),
    ("Mox/System code", ["system.mox"], [],
     "*** Error: contains Mox/System code which requires compilation!\n"),
    ("a header that does not load", ["unloadable.mox"], [],
     """*** Syntax Error:...
*** Where:...
*** Near :...
*** Stack:...
"""),
    ("a failing script reports its error", ["fails.mox"], [],
     """*** Math Error: attempt to divide by zero
*** Where:...
*** Near : 1 / 0
*** Stack:...
"""),
    ("a preprocessor error halts the script, not the program", ["badpp.mox"], [],
     """*** Preprocessor Error: Syntax error
*** Where: #trace maybe
(halted)
"""),
    ("a script that halts", ["halts.mox"], [], "before\n(halted)\n"),
    ("an unreadable script in a missing folder starts the prompt", ["missing/none.mox"],
     ["1"],
     """*** Access Error: cannot open:...
*** Where:...
*** Near :...
*** Stack:...
*** Access Error: cannot open:...
*** Where:...
*** Near :...
*** Stack:...
<banner>
>> 1
== 1
>> 
"""),
]


# Shell words over a fixture folder: names, with the cell width each listing
# gives them (80 columns: ls 3 a row in 19 characters, ll 1 in 66).
SHELL_FOLDER = ["alpha.mox", "b.txt", "a-name-of-twenty-two.txt", "sub/"]


def listing_cells(lines, per_row, width):
    """The entries of a listing, checking its layout; None when it is wrong."""
    cells = []
    for line in lines:
        parts = line.split("\t")
        if parts[0] != "" or len(parts) - 1 > per_row:
            return None
        for cell in parts[1:]:
            if len(cell) != width + 1 or not cell.endswith(" "):
                return None
            cells.append(cell.rstrip())
    return sorted(cells)


def shown(name, width):
    return name if len(name) < width else name[:width - 4] + "..."


def check_shell(command, work):
    folder = os.path.join(work, "fx")
    os.makedirs(os.path.join(folder, "sub"))
    for name in SHELL_FOLDER:
        if not name.endswith("/"):
            open(os.path.join(folder, name), "w").close()
    os.makedirs(os.path.join(work, "empty"))
    feed = "ls fx\nll fx\nls empty\nlist-dir/col %fx 2\ncd fx\npwd\ncd %..\nls fx/sub\n"
    run = subprocess.run(command[1:] + [command[0], "--console"], input=feed.encode(),
                         capture_output=True, cwd=work, timeout=120)
    text = normalise_banner(run.stdout.decode("utf-8", "replace").replace("\r\n", "\n"))
    blocks = {}
    current = None
    for line in text.split("\n"):
        if line.startswith(">> "):
            current = line[3:]
            blocks[current] = []
        elif current is not None:
            blocks[current].append(line)
    problems = []
    for cmd, per_row, width in (("ls fx", 3, 19), ("ll fx", 1, 66), ("list-dir/col %fx 2", 2, 31)):
        lines = blocks.get(cmd, [])
        want = sorted(shown(n, width) for n in SHELL_FOLDER)
        rows = -(-len(SHELL_FOLDER) // per_row)
        if len(lines) != rows or listing_cells(lines, per_row, width) != want:
            problems.append("%s gave %r" % (cmd, lines))
    if blocks.get("ls empty") != [] or blocks.get("ls fx/sub") != []:
        problems.append("an empty folder printed something")
    pwd = blocks.get("pwd", [""])
    if len(pwd) != 1 or not pwd[0].startswith("%/") or not pwd[0].endswith("/fx/"):
        problems.append("pwd gave %r" % pwd)
    return problems


def matches(expected, got):
    e_lines = expected.split("\n")
    g_lines = got.split("\n")
    if len(e_lines) != len(g_lines):
        return False
    for e, g in zip(e_lines, g_lines):
        if e.endswith("...") and not e.endswith("x..."):
            if not g.startswith(e[:-3]):
                return False
        elif e != g:
            return False
    return True


def normalise_banner(text):
    lines = text.split("\n")
    for i in range(len(lines) - 2):
        if (lines[i].startswith("--== Mox ") and lines[i + 1].startswith("Type HELP")
                and lines[i + 2] == ""):
            return "\n".join(lines[:i] + ["<banner>"] + lines[i + 3:])
    return text


def main():
    command = sys.argv[1:]
    if not command:
        print(__doc__)
        return 2
    failed = 0
    with tempfile.TemporaryDirectory() as work:
        for name, text in FIXTURES.items():
            with open(os.path.join(work, name), "w", newline="\n") as f:
                f.write(text)
        for title, args, lines, expected in CASES:
            feed = "".join(line + "\n" for line in lines)
            run = subprocess.run(command[1:] + [command[0], "--console"] + args,
                                 input=feed.encode(), capture_output=True, cwd=work,
                                 timeout=120)
            got = normalise_banner(run.stdout.decode("utf-8", "replace").replace("\r\n", "\n"))
            if not matches(expected, got):
                failed += 1
                print("FAIL " + title)
                print("--- expected\n" + expected + "--- got\n" + got + "---")
        problems = check_shell(command, work)
        if problems:
            failed += 1
            print("FAIL shell words\n  " + "\n  ".join(problems))
    print("%d passed, %d failed" % (len(CASES) + 1 - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
