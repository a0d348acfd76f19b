#!/usr/bin/env python3
"""Checks the printed output of the tracers, the profiler, the debugger and
the timing and memory printers, which the case tables cannot see.

Usage: tools_check.py MOX-RUN [EMULATOR]

- debugger sessions through the headless console (mox-run --console), lines
  fed on standard input, against the expected transcript; and under plain
  mox-run, where there is no console: steps print and nothing stops;
- profile reports: the line layout, the counts of known call patterns, and
  the three orders (checked on the printed report, by Python's sort);
- show-memory-stats of a hand-made data block, laid out here;
- to-local-date against datetime.astimezone with the zone the runtime
  reports;
- clock's number shortening and units, with dt replaced by a fixed reading;
- trace lines at the width the console reports, and at 80 without one.
"""
import datetime
import os
import re
import subprocess
import sys
import tempfile

failures = []


def run(mox_run, emulator, script, args=(), stdin="", header=False):
    with tempfile.NamedTemporaryFile("w", suffix=".mox", delete=False, encoding="utf-8") as f:
        f.write(("Mox []\n" if header else "") + script + "\n")
        path = f.name
    try:
        name = ("Z:" + path.replace("/", "\\")) if emulator else path
        cmd = emulator + [mox_run] + list(args) + [name]
        try:
            p = subprocess.run(cmd, input=stdin.encode("utf-8"), capture_output=True, timeout=300)
        except subprocess.TimeoutExpired:
            return "(no end after 300 s)\n"
        return p.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
    finally:
        os.unlink(path)


# The helpers the console sessions call (typed at the prompt they would be
# paths), made by a script the console runs before its prompt.
HELPERS = """show-hist: does [print mold system/console/history]
show-opts: does [print mold body-of system/tools/options/debug]"""


def console(mox_run, emulator, lines):
    return run(mox_run, emulator, HELPERS, ["--console", "--catch"], "\n".join(lines) + "\n",
               header=True)


def check(name, got, expected):
    if got != expected:
        failures.append(name)
        print(f"FAIL {name}\n--- expected\n{expected}--- got\n{got}---")


# ---------------------------------------------------------------------------
# The debugger
# ---------------------------------------------------------------------------

# Each entry: the lines typed, then the transcript expected after the banner.
DEBUG_SESSION = (
    [
        "x: 5",
        "debug [x + 1]",
        "watch x y", "", "-w y", "", "foo", ":[", ":x", ":system/console/size", "-s", "",
        "help", "+s", "-w x", "c",
        "show-opts",
        "show-hist",
        "debug [1 / 0]", "", "", "", "", "", "", "", "",
        "debug [a: 1 b: 2]", "", "q",
        "show-hist",
    ],
    """>> x: 5
== 5
>> debug [x + 1]
-----> EVAL x
Input: x + 1

-empty stack-
debug> watch x y
debug> 
-----> PUSH 5
Input: x + 1
Watch: x: 5
Watch: y: unset

Stack: 5
debug> -w y
debug> 
-----> EVAL +
Input: + 1
Watch: x: 5

-empty stack-
debug> foo
Unknown command!
debug> :[
*** Syntax Error: (line 1) missing ] at [
*** Where: transcode
*** Near : transcode source
debug> :x
== 5
debug> :system/console/size
== 80x25
debug> -s
debug> 
-----> OPEN +
Input: 1
Watch: x: 5
debug> help
\t`help` or `?`: print a list of debugger's commands.
\t`next` or `n` or just ENTER: evaluate next value.
\t`continue` or `c`: exit debugging console but continue evaluation.
\t`quit` or `q`: exit debugger and stop evaluation.
\t`stack` or `s`: display the current calls and expression stack.
\t`parents` or `p`: display the parents call stack.
\t`:word`: outputs the value of `word`. If it is a `function!`, outputs the local context.
\t`:a/b/c`: outputs the value of `a/b/c` path.
\t`watch <word1> <word2>...`: watch one or more words. `w` can be used as shortcut for `watch`.
\t`-watch <word1> <word2>...`: stop watching one or more words. `-w` can be used as shortcut for `-watch`.
\t`+stack`  or `+s`: outputs expression stack on each new event.
\t`-stack`  or `-s`: do not output expression stack on each new event.
\t`+locals` or `+l`: output local context for each entry in the callstack.
\t`-locals` or `-l`: do not output local context for each entry in the callstack.
\t`+indent` or `+i`: indent the output of the expression stack.
\t`-indent` or `-i`: do not indent the output of the expression stack.
\t
debug> +s
debug> -w x
debug> c
>> show-opts
[
    active?: false
    show-stack?: true
    show-parents?: false
    show-locals?: false
    stack-indent?: false
]
>> show-hist
["show-hist" "show-opts" "debug [x + 1]" "x: 5"]
>> debug [1 / 0]
-----> EVAL 1
Input: 1 / 0

-empty stack-
debug> 
-----> PUSH 1
Input: 1 / 0

Stack: 1
debug> 
-----> EVAL /
Input: / 0

-empty stack-
debug> 
-----> OPEN /
Input: 0

Stack: /
debug> 
-----> EVAL 0
Input: 0

Stack: /
debug> 
-----> PUSH 0
Input: 0

Stack: /
Stack: 0
debug> 
-----> CALL / (action!)
Input: 1 / 0

Stack: /
Stack: 0
debug> 
-----> ERROR make error! [code: 400 type: 'math id: 'zero-divide arg1: none arg

Stack: /
Stack: 0
debug> 
*** Math Error: attempt to divide by zero
*** Where: /
*** Near : 1 / 0

>> debug [a: 1 b: 2]
-----> EVAL a:
Input: a: 1 b: 2

-empty stack-
debug> 
-----> EVAL 1
Input: 1 b: 2

-empty stack-
debug> q
(halted)
>> show-hist
["show-hist" "debug [a: 1 b: 2]" "debug [1 / 0]" "show-hist" "show-opts" "debug [x + 1]" "x: 5"]
>> 
""",
)

PARENTS_SESSION = (
    [
        "g: func [b] [b * 2] f: func [a] [g a + 1]",
        "debug [f 1]", "", "", "", "", "", "", "", "", "parents", "+l", "p", "-l", "+p", "", "c",
    ],
    """>> g: func [b] [b * 2] f: func [a] [g a + 1]
== func [a][g a + 1]
>> debug [f 1]
-----> EVAL f
Input: f 1

-empty stack-
debug> 
-----> OPEN f
Input: 1

Stack: f
debug> 
-----> EVAL 1
Input: 1

Stack: f
debug> 
-----> PUSH 1
Input: 1

Stack: f
Stack: 1
debug> 
-----> CALL f (function!)
Input: f 1

Stack: f
Stack: 1
debug> 
-----> EVAL g
Input: g a + 1

Stack: f
Stack: 1
debug> 
-----> OPEN g
Input: a + 1

Stack: f
Stack: 1
Stack: g
debug> 
-----> EVAL a
Input: a + 1

Stack: f
Stack: 1
Stack: g
debug> 
-----> PUSH 1
Input: a + 1

Stack: f
Stack: 1
Stack: g
Stack: 1
debug> parents
Call: f
debug> +l
debug> p
Call: f
  > a         : 1
debug> -l
debug> +p
debug> 
-----> EVAL +
Input: + 1
Call: f

Stack: f
Stack: 1
Stack: g
Stack: 1
debug> c
>> 
""",
)

# /later: quiet until @stop, quiet again after @go (a script: the console's
# line reader is not needed to type the refs).
LATER_SCRIPT = """debug/later [a: 1 @stop b: 2 @go c: 3]
print "done" """
LATER_OUTPUT = """-----> EVAL @stop
Input: @stop b: 2 @go c: 3

-empty stack-
debug> 
-----> PUSH @stop
Input: @stop b: 2 @go c: 3

Stack: @stop
debug> c
done
"""

# Without a console the steps print, and nothing waits for input.
NO_CONSOLE_SCRIPT = """debug [x: 2]
print "after" """
NO_CONSOLE_OUTPUT = """-----> EVAL x:
Input: x: 2

-empty stack-
-----> EVAL 2
Input: 2

-empty stack-
-----> PUSH 2
Input: 2

Stack: 2
-----> SET x: 2
Input: x: 2

Stack: 2
-----> PUSH 2
Input: x: 2

Stack: 2
Stack: 2
after
"""


def session_text(text):
    """The transcript without the calls of error reports, which name the
    console's own functions."""
    return "".join(line for line in text.splitlines(True) if not line.startswith("*** Stack:"))


def debugger_checks(mox_run, emulator):
    for name, (lines, expected) in (("debug session", DEBUG_SESSION),
                                    ("debug parents", PARENTS_SESSION)):
        check(name, session_text(console(mox_run, emulator, lines)), expected)
    check("debug/later", run(mox_run, emulator, LATER_SCRIPT, ["--console"], "\nc\n", header=True),
          LATER_OUTPUT)
    check("debug without console", run(mox_run, emulator, NO_CONSOLE_SCRIPT), NO_CONSOLE_OUTPUT)


# ---------------------------------------------------------------------------
# The profiler
# ---------------------------------------------------------------------------

PROFILE_LINE = re.compile(r"^# (\d+) {1,4}(\S+) +\| (\d+) +\| (\S+) *$")


def seconds(text):
    if re.fullmatch(r"-?\d+", text):
        return float(text)
    h, m, s = text.split(":")
    return int(h) * 3600 + int(m) * 60 + float(s)


def profile_table(out, name):
    lines = out.split("\n")
    rows = []
    for line in lines:
        m = PROFILE_LINE.match(line)
        if m:
            rows.append((int(m.group(1)), m.group(2), int(m.group(3)), seconds(m.group(4))))
        elif line.startswith("#"):
            failures.append(name)
            print(f"FAIL {name}: bad report line {line!r}")
    # Ranks count from 1 in each report.
    ranks = [r[0] for r in rows]
    if any(b != a + 1 and b != 1 for a, b in zip(ranks, ranks[1:])) or ranks[:1] not in ([], [1]):
        failures.append(name)
        print(f"FAIL {name}: ranks {[r[0] for r in rows]}")
    return rows


def profile_checks(mox_run, emulator):
    fib = "fib: func [n] [either n < 2 [n] [(fib n - 1) + fib n - 2]] "
    out = run(mox_run, emulator, fib + "profile [fib 10]")
    if not out.startswith("== 55\n\n"):
        failures.append("profile result line")
        print(f"FAIL profile result line: {out[:40]!r}")
    rows = profile_table(out, "profile count")
    counts = {r[1]: r[2] for r in rows}
    # fib(10) makes 177 calls: one per node of its call tree.
    expected = {"fib": 177, "either": 177, "<": 177, "-": 176, "+": 88}
    check("profile counts", repr(sorted(counts.items())), repr(sorted(expected.items())))
    check("profile order by count", repr([r[2] for r in rows]),
          repr(sorted((r[2] for r in rows), reverse=True)))
    # Each line's fields: # rank padded to 4, name padded to 16, | count
    # padded to 10, | time.
    first = out.split("\n")[2]
    check("profile line layout", first[:38], "# 1    fib              | 177        |")

    rows = profile_table(run(mox_run, emulator, fib + "profile/by [fib 6 fib 3] 'name"), "profile name")
    names = [r[1] for r in rows]
    check("profile order by name", repr(names), repr(sorted(names)))
    rows = profile_table(run(mox_run, emulator, fib + "profile/by [fib 12] 'time"), "profile time")
    times = [r[3] for r in rows]
    check("profile order by time", repr(times), repr(sorted(times, reverse=True)))
    # Two calls of a function: a count of 2, and a time at least that of
    # one call measured alone around it.
    out = run(mox_run, emulator, "f: does [loop 20000 [1 + 1]] profile [f f]")
    rows = profile_table(out, "profile twice")
    check("profile twice", repr([(r[1], r[2]) for r in rows if r[1] == "f"]), repr([("f", 2)]))
    # Anonymous functions are numbered for the whole run.
    out = run(mox_run, emulator,
              "profile [do reduce [func [] [1]]] profile [do reduce [func [] [2]] do reduce [does [3]]]")
    anon = [r[1] for r in profile_table(out, "profile anon") if r[1].startswith("<anon")]
    check("profile anonymous", repr(sorted(anon)), repr(["<anon1>", "<anon2>", "<anon3>"]))
    out = run(mox_run, emulator, "profile []")
    check("profile unset result", out, "")


# ---------------------------------------------------------------------------
# show-memory-stats
# ---------------------------------------------------------------------------

def memory_layout(nodes, series, big, os_total, heap):
    out = []
    for cls, unit, frames in (("Nodes", "nodes", nodes), ("Series", "bytes", series)):
        out.append("")
        out.append(f"[ {cls:<6} ] -- Free ----- Used ----- Total --")
        if not frames:
            out.append(f"{'-':>16} {'-':>11} {'-':>12}")
        for i, (free, used, total) in enumerate(frames, 1):
            out.append(f"  {str(i) + ':':<4} {free:>11} {used:>11} {total:>12}")
        out.append("  --")
        out.append(f"  Used     : {sum(f[1] for f in frames)} {unit}")
        out.append(f"  Allocated: {sum(f[2] for f in frames)} {unit}")
    out.append("")
    out.append("[ Big    ]")
    for i, size in enumerate(big, 1):
        out.append(f"  {str(i) + ':':<4} {size:>11}")
    out.append("  --")
    out.append(f"  Allocated: {sum(big)} bytes")
    out.append("--")
    out.append(f"Total allocated from OS (virtual): {os_total:>9}")
    out.append(f"Total allocated on heap (malloc): {heap:>9}")
    return "\n".join(out) + "\n"


def mox_frames(frames):
    return "[" + " ".join("[" + " ".join(map(str, f)) + "]" for f in frames) + "]"


def memory_checks(mox_run, emulator):
    cases = [
        ([[1, 2, 3], [40, 50, 90]], [[100, 200, 300]], [4096, 65536], 123456, 789),
        ([], [], [], 0, 0),
        ([[0, 10000, 10000]] * 11, [[7, 8, 15]], [1], 2147483647, 5),
    ]
    for n, (nodes, series, big, os_total, heap) in enumerate(cases):
        script = (f"show-memory-stats [{mox_frames(nodes)} {mox_frames(series)} "
                  f"[{' '.join(map(str, big))}] {os_total} {heap}]")
        check(f"show-memory-stats {n}", run(mox_run, emulator, script),
              memory_layout(nodes, series, big, os_total, heap))
    # stats/show prints the same layout from the memory manager's own block.
    out = run(mox_run, emulator, "stats/show")
    if not (out.startswith("\n[ Nodes  ] -- Free") and "Total allocated on heap (malloc):" in out):
        failures.append("stats/show")
        print(f"FAIL stats/show: {out[:80]!r}")


# ---------------------------------------------------------------------------
# Dates and clock
# ---------------------------------------------------------------------------

MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()


def mox_date(d):
    text = f"{d.day}-{MONTHS[d.month - 1]}-{d.year}/{d.hour}:{d.minute:02d}:{d.second:02d}"
    minutes = int(d.utcoffset().total_seconds()) // 60
    if minutes:
        sign = "-" if minutes < 0 else "+"
        text += f"{sign}{abs(minutes) // 60:02d}:{abs(minutes) % 60:02d}"
    return text


def zone_checks(mox_run, emulator):
    zone = run(mox_run, emulator, "print now/zone").strip()
    sign = -1 if zone.startswith("-") else 1
    h, m, _ = zone.lstrip("-+").split(":")
    local = datetime.timezone(sign * datetime.timedelta(hours=int(h), minutes=int(m)))
    dates = [datetime.datetime(2020, 1, 1, 10, 0, tzinfo=datetime.timezone(datetime.timedelta(hours=2))),
             datetime.datetime(1999, 12, 31, 23, 45, 10,
                               tzinfo=datetime.timezone(datetime.timedelta(hours=-9, minutes=-30))),
             datetime.datetime(2024, 2, 29, 0, 15, tzinfo=datetime.timezone(datetime.timedelta(hours=5, minutes=45)))]
    script = " ".join(f"print mold to-local-date {mox_date(d)}" for d in dates)
    expected = "".join(mox_date(d.astimezone(local)) + "\n" for d in dates)
    check("to-local-date", run(mox_run, emulator, script), expected)


def shorten(ms):
    """The number as clock prints it: three characters, a dot counting with
    the one after it, then up to the next dot."""
    text = repr(ms) if ms != int(ms) else repr(float(ms))
    i = n = 0
    while n < 3 and i < len(text):
        i += 2 if text[i] == "." else 1
        n += 1
    dot = text.find(".", i)
    return text[:dot] if dot >= 0 else text[:i]


def clock_checks(mox_run, emulator):
    label = "[" + " ".join(["x"] * 40) + "]"
    cases = [(1.2345678, 1, "[1 + 1]"), (0.0123456, 1, "[2]"), (0.000012345, 1, "[3]"),
             (12.5, 10, "[4]"), (0.0009, 3, label)]
    script = ["dt: func [body] [do body reading] x: 0"]
    expected = []
    for secs, n, code in cases:
        script.append(f"reading: to time! {secs!r} clock/times {code} {n}")
        ms = 1000.0 / n * secs
        unit = "ms"
        if ms < 1:
            ms *= 1000
            unit = "μs"
        expected.append(f"{shorten(ms)} {unit}\t{code[:70]}\n")
    check("clock", run(mox_run, emulator, "\n".join(script)), "".join(expected))


# ---------------------------------------------------------------------------
# trace widths
# ---------------------------------------------------------------------------

def trace_checks(mox_run, emulator):
    for size, full in (("0x0", 80), ("60x25", 60)):
        out = run(mox_run, emulator, f"system/console/size: {size} trace [x: 1 + 2]")
        left = min(60, (full - 7) // 2)
        line = ("  x: 1 + 2".ljust(left) + " => 3").ljust(full - 1) + "\n"
        check(f"trace at {size}", out, line)


# ---------------------------------------------------------------------------
# Runaway recursion under the tracers (here rather than in the case tables,
# which also run with a collection at every allocation)
# ---------------------------------------------------------------------------

RUNAWAY_SCRIPT = """system/tools/tracers/emit: func [line] []
runaway: func [n] [runaway n + 1]
foreach code [[trace/deep [runaway 1]] [trace/raw [runaway 1]] [profile [runaway 1]]
	[system/tools/do-handler [runaway 1] :system/tools/debugger]] [
	print [select try code 'id tracing?]
]"""


def runaway_checks(mox_run, emulator):
    out = run(mox_run, emulator, RUNAWAY_SCRIPT)
    check("runaway recursion", out, "stack-overflow false\n" * 4)


def main():
    mox_run = sys.argv[1]
    emulator = sys.argv[2:]
    debugger_checks(mox_run, emulator)
    profile_checks(mox_run, emulator)
    memory_checks(mox_run, emulator)
    zone_checks(mox_run, emulator)
    clock_checks(mox_run, emulator)
    trace_checks(mox_run, emulator)
    runaway_checks(mox_run, emulator)
    print(f"tools_check: {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
