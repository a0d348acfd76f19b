#!/usr/bin/env python3
"""Checks the clipboard routines against the X clipboard through xclip.

Usage: clipboard_check.py MOX-RUN [EMULATOR]

Under Wine (on the X display of DISPLAY) text written by write-clipboard
reaches X programs and text from X programs is read back, with CR LF line
ends on the Windows side; file lists and emptying make the round trip
inside Windows. The native build has no clipboard: both routines report
failure there.
"""
import os
import subprocess
import sys
import tempfile
import time

failures = []


def check(what, got, expected):
    if got != expected:
        failures.append(f"{what}: expected {expected!r}, got {got!r}")


def run(mox_run, emulator, code):
    fd, path = tempfile.mkstemp(suffix=".mox")
    with os.fdopen(fd, "w", encoding="utf-8") as f:
        f.write(code)
    try:
        run_path = ("Z:" + path.replace("/", "\\")) if emulator else path
        out = subprocess.run(emulator + [mox_run, run_path], capture_output=True, timeout=60)
    finally:
        os.unlink(path)
    return [l for l in out.stdout.decode("utf-8", "replace").replace("\r", "").split("\n") if l]


def release(fifo, process):
    """Opens the FIFO for writing once its reader is there (or gone)."""
    while process.poll() is None:
        try:
            fd = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
        except OSError:
            time.sleep(0.1)
            continue
        os.write(fd, b"x")
        os.close(fd)
        return


def xclip(*args, **kw):
    return subprocess.run(["xclip", "-selection", "clipboard", *args], timeout=10, **kw)


def main():
    mox_run = sys.argv[1]
    emulator = sys.argv[2:] if len(sys.argv) > 2 and sys.argv[2] else []
    if not emulator:
        check("native", run(mox_run, [], "print mold reduce [write-clipboard \"x\" read-clipboard]"),
              ["[false false]"])
    else:
        if not os.environ.get("DISPLAY"):
            print("FAILED: no X display for the clipboard")
            return 1
        # Wine's clipboard leaves X with the last Wine process: the script
        # writes, then waits on a FIFO until X has read the text.
        folder = tempfile.mkdtemp()
        fifo = os.path.join(folder, "go")
        os.mkfifo(fifo)
        script = os.path.join(folder, "w.mox")
        with open(script, "w", encoding="utf-8") as f:
            f.write(f'print write-clipboard "one^/two é" read %/Z{fifo} print "done"')
        writer = subprocess.Popen(emulator + [mox_run, "Z:" + script.replace("/", "\\")],
                                  stdout=subprocess.PIPE)
        try:
            # Until the script's text is there (bounded: a failed write
            # leaves the clipboard as it was and the check fails). An earlier
            # test's text may still be served until Wine takes the selection.
            got = ""
            for _ in range(100):
                got = xclip("-o", capture_output=True).stdout.decode("utf-8")
                if got == "one\ntwo é" or writer.poll() is not None:
                    break
                time.sleep(0.1)
            check("X side", got, "one\ntwo é")
        finally:
            release(fifo, writer)
            out = writer.communicate(timeout=60)[0].decode().split()
            check("write", out, ["true", "done"])
            os.unlink(fifo)
            os.unlink(script)
            os.rmdir(folder)
        # xclip serves one paste and ends.
        server = subprocess.Popen(["xclip", "-selection", "clipboard", "-quiet", "-l", "1", "-i"],
                                  stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        server.stdin.write("from x\nline ü".encode("utf-8"))
        server.stdin.close()
        try:
            lines = run(mox_run, emulator, "print mold read-clipboard")
        finally:
            try:
                server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                server.kill()
        check("from X", lines, ['"from x^M^/line ü"'])
        lines = run(mox_run, emulator, """
print mold write-clipboard [%/c/dir/a.txt %"b c.txt" %/host/share/]
print mold read-clipboard
print mold write-clipboard none
print mold read-clipboard
print mold error! = type? try [write-clipboard 12]
print mold error! = type? try [write-clipboard [12]]
""")
        check("files", lines, ["true", '[%/c/dir/a.txt %"b c.txt" %/host/share/]', "true", "none",
                               "true", "true"])
    for f in failures:
        print("FAIL", f)
    print(f"{'ok' if not failures else 'FAILED'}: clipboard")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
