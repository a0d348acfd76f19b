#!/usr/bin/env python3
"""Runs one GUI check on a display and a Wine prefix of its own.

    isolated.py [--wine] COMMAND [ARG...]

GUI checks spend most of their time waiting on windows, so they run side by
side; alone on its display and prefix, none can take another's focus,
pointer, clipboard, configuration file or wineserver. The Xvfb server
chooses a free display itself (-displayfd), so that checks started at the
same moment never race for one; with --wine, the prefix is a copy of the one in
MOX_WINEPREFIX_TEMPLATE (a clean prefix the test command keeps aside), else
of the one in MOX_WINEPREFIX or WINEPREFIX (made ready by scripts/wine-prefix),
removed afterwards with its wineserver. The command's exit status is this program's.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile


def start_display():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp"], pass_fds=(write_end,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    with os.fdopen(read_end, "rb") as pipe:
        while not number.endswith(b"\n"):
            chunk = pipe.read(1)
            if not chunk:
                break
            number += chunk
    if not number.strip():
        xvfb.kill()
        sys.exit("Xvfb did not start")
    return xvfb, ":" + number.decode().strip()


def main(argv):
    wine = len(argv) > 1 and argv[1] == "--wine"
    command = argv[2:] if wine else argv[1:]
    if not command:
        sys.exit(__doc__)
    env = dict(os.environ)
    xvfb, env["DISPLAY"] = start_display()
    scratch = tempfile.mkdtemp(prefix="mox-gui-")
    template = (os.environ.get("MOX_WINEPREFIX_TEMPLATE") or os.environ.get("MOX_WINEPREFIX")
                or os.environ.get("WINEPREFIX"))
    prefix = None
    if wine and template and os.path.isdir(template):
        prefix = os.path.join(scratch, "wineprefix")
        shutil.copytree(template, prefix, symlinks=True)
        env["WINEPREFIX"] = env["MOX_WINEPREFIX"] = prefix
    child = subprocess.Popen(command, env=env)
    try:
        status = child.wait()
    except KeyboardInterrupt:
        child.send_signal(signal.SIGINT)
        status = child.wait()
    finally:
        if prefix:
            subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
        xvfb.kill()
        xvfb.wait()
        shutil.rmtree(scratch, ignore_errors=True)
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
