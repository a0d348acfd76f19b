#!/usr/bin/env bash
# What the console's configuration file costs at start-up, in one run:
# start-up with a full file (100 history entries of 1 KB each, ten extra
# keys; the window and font as the defaults, so that only the file differs)
# against start-up with no file.
#   native: the null-back-end console (MOX_GUI_CONSOLE=1) running a script
#           that ends the process at once (quit-return: nothing is saved),
#           from spawn to exit;
#   wine:   mox.exe from spawning `wine mox.exe` to its window being mapped
#           (xdotool), which follows the configuration's loading and
#           applying; skipped with a note when no window comes.
# Every figure is the median of 21 runs (seven under Wine) after one warm-up
# run, printed with the ratio (full / none; the target is below 1.10).
# Second row, Settings: Alt+O to the Settings dialog mapped, in a running
# console under Wine, against a tkinter window mapping, at Alt+O, a Toplevel
# of the same widgets (two group boxes, 21 colour boxes, three fields, two
# check boxes, a label, two buttons). Both are timed alike from outside:
# from the synthetic key (XTest) to the MapNotify of the window named
# Settings on the root window; the two programs take turns, one opening
# each a round, 21 rounds after a warm-up one; medians and their ratio.
# Usage: bench/run-console-cfg.sh [--native-only]
# (MOX_BIN and MOX_EXE name ready-built native and Windows executables.)
set -eu
cd "$(dirname "$0")/.."
mox_bin="${MOX_BIN:-$(pwd)/build/cfg-bench/mox}"
if [ -z "${MOX_BIN:-}" ]; then
  cmake -S . -B build/cfg-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF >/dev/null
  cmake --build build/cfg-bench -j3 --target mox >/dev/null
fi
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

cat >"$dir/bench.py" <<'PY'
import os, shutil, statistics, subprocess, sys, time
native, folder, wine_exe = sys.argv[1], sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

def full_file():
    entries = " ".join('"%s"' % (("%03d " % i) + "x" * 1019) for i in range(100))
    extra = "".join("extra-%d: %d\n" % (i, i) for i in range(10))
    return ('Mox [\n\tPurpose: "Mox Console Configuration File"\n]\n\n'
            "win-pos: (200, 200)\nwin-size: 640x480\nfont-name: \"Consolas\"\nfont-size: 11\n"
            "font-color: 0.0.0\nbackground: 252.252.252\nmouse-paste?: false\nmenu-bar?: true\n"
            "dark-mode?: no\n" + extra + "buffer-lines: 10000\nhistory: [" + entries + "]\n")

def place(cache_dir, full):
    cfg_dir = os.path.join(cache_dir, "Mox", "Mox-Console")
    shutil.rmtree(cfg_dir, ignore_errors=True)
    if full:
        os.makedirs(cfg_dir)
        with open(os.path.join(cfg_dir, "console-cfg.mox"), "w") as f:
            f.write(full_file())

def median(f, n):
    f()
    return statistics.median(f() for _ in range(n))

def native_run(appdata, script):
    env = dict(os.environ, APPDATA=appdata, MOX_GUI_CONSOLE="1")
    def once():
        t0 = time.perf_counter()
        subprocess.run([native, script], env=env, check=True, stdout=subprocess.DEVNULL)
        return time.perf_counter() - t0
    return once

def wine_mapped():
    # The window is mapped once the configuration is applied; the state log
    # is not used, as it would copy the whole history at every record.
    def once():
        t0 = time.monotonic()
        p = subprocess.Popen(["wine", wine_exe], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        while not subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "Mox Console"],
                                 capture_output=True).stdout.strip():
            if time.monotonic() - t0 > 60:
                p.kill(); p.wait()
                raise TimeoutError
            time.sleep(0.005)
        t = time.monotonic() - t0
        p.kill(); p.wait()
        subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
        return t
    return once

def report(label, none_t, full_t):
    print("%-8s no file %.4f s  full file %.4f s  ratio %.3f" % (label, none_t, full_t, full_t / none_t))

appdata = os.path.join(folder, "appdata")
script = os.path.join(folder, "end.mox")
with open(script, "w") as f:
    f.write("Mox []\nquit-return 0\n")
place(appdata, False)
none_t = median(native_run(appdata, script), 21)
place(appdata, True)
full_t = median(native_run(appdata, script), 21)
report("native", none_t, full_t)

if wine_exe:
    roaming = subprocess.run(["wine", "cmd", "/c", "echo %APPDATA%"], capture_output=True,
                             text=True).stdout.strip()
    unix = subprocess.run(["winepath", "-u", roaming], capture_output=True,
                          text=True).stdout.strip()
    try:
        place(unix, False)
        none_t = median(wine_mapped(), 7)
        place(unix, True)
        full_t = median(wine_mapped(), 7)
        report("wine", none_t, full_t)
    except TimeoutError:
        print("wine     no window within 60 s: not measured")
    place(unix, False)
    import settings_row
    try:
        settings_row.run(wine_exe, os.path.join(folder, "tk_peer.py"), 21)
    except TimeoutError as e:
        print("settings  no %s window within its wait: not measured" % e)
    place(unix, False)
PY

cat >"$dir/settings_row.py" <<'PY'
import ctypes, select, statistics, subprocess, sys, time

x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
xtst = ctypes.cdll.LoadLibrary("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
x11.XPending.argtypes = [ctypes.c_void_p]
x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
x11.XConnectionNumber.argtypes = [ctypes.c_void_p]
x11.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
x11.XKeysymToKeycode.restype = ctypes.c_ubyte
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XSetInputFocus.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_ulong]
x11.XSetErrorHandler.argtypes = [ctypes.c_void_p]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]

MAP_NOTIFY, UNMAP_NOTIFY, DESTROY_NOTIFY = 19, 18, 17
SUBSTRUCTURE_NOTIFY = 1 << 19
# A window may be gone before its name is asked for: X errors are ignored.
IGNORE = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda d, e: 0)


class Display:
    """The root window's map and unmap events, and keys sent through XTest."""

    def __init__(self):
        self.d = x11.XOpenDisplay(None)
        x11.XSetErrorHandler(IGNORE)
        x11.XSelectInput(self.d, x11.XDefaultRootWindow(self.d), SUBSTRUCTURE_NOTIFY)
        x11.XSync(self.d, 0)
        self.event = ctypes.create_string_buffer(192)

    def name(self, window):
        out = ctypes.c_char_p()
        if x11.XFetchName(self.d, window, ctypes.byref(out)) and out.value is not None:
            return out.value.decode("utf-8", "replace")
        return None

    def drain(self):
        while x11.XPending(self.d):
            x11.XNextEvent(self.d, self.event)

    def wait(self, kinds, name=None, window_id=None, timeout=30):
        """The time an event of one of the kinds is read for the window of
        that name or id, and the window."""
        deadline = time.perf_counter() + timeout
        while True:
            while x11.XPending(self.d):
                x11.XNextEvent(self.d, self.event)
                now = time.perf_counter()
                kind = ctypes.c_int.from_buffer(self.event, 0).value
                window = ctypes.c_ulong.from_buffer(self.event, 40).value
                if kind in kinds and window_id in (None, window) and (
                        name is None or self.name(window) == name):
                    return now, window
            left = deadline - time.perf_counter()
            if left <= 0:
                raise TimeoutError(name or "closing")
            select.select([x11.XConnectionNumber(self.d)], [], [], left)

    def keys(self, *names):
        """Presses the keys in order and releases them in reverse."""
        codes = [x11.XKeysymToKeycode(self.d, x11.XStringToKeysym(n.encode())) for n in names]
        for c in codes:
            xtst.XTestFakeKeyEvent(self.d, c, 1, 0)
        for c in reversed(codes):
            xtst.XTestFakeKeyEvent(self.d, c, 0, 0)
        x11.XFlush(self.d)

    def focus(self, window, click=False):
        # Without a window manager Wine takes the focus back from another
        # program only with the pointer on its window and a click.
        if click:
            subprocess.run(["xdotool", "mousemove", "--window", str(window), "300", "300",
                            "click", "1"], stderr=subprocess.DEVNULL)
        x11.XSetInputFocus(self.d, window, 1, 0)
        x11.XSync(self.d, 0)


def find(title, timeout=90):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title],
                             capture_output=True, text=True).stdout.split()
        if out:
            return int(out[0])
        time.sleep(0.2)
    raise TimeoutError(title)


def open_once(d, window):
    """Alt+O in the window: the time to the Settings window's mapping. The
    dialog is then closed by Alt+F4 and its unmapping waited for."""
    d.focus(window, click=True)
    time.sleep(0.3)
    d.drain()
    t0 = time.perf_counter()
    d.keys("Alt_L", "o")
    t1, dialog = d.wait((MAP_NOTIFY,), name="Settings")
    time.sleep(0.3)
    d.focus(dialog)
    d.keys("Alt_L", "F4")
    d.wait((UNMAP_NOTIFY, DESTROY_NOTIFY), window_id=dialog)
    time.sleep(0.3)
    return t1 - t0


def run(mox_exe, peer, rounds):
    d = Display()
    mox = subprocess.Popen(["wine", mox_exe], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    tkp = subprocess.Popen([sys.executable, peer])
    try:
        sides = [("mox", find("Mox Console")), ("tkinter", find("Tk Console"))]
        time.sleep(1)
        times = {name: [] for name, _ in sides}
        for i in range(rounds + 1):
            for name, window in sides:
                t = open_once(d, window)
                if i:
                    times[name].append(t)
        m, t = statistics.median(times["mox"]), statistics.median(times["tkinter"])
        print("settings  Alt+O to Settings mapped: mox (Wine) %.2f ms  tkinter %.2f ms  "
              "ratio %.2f" % (m * 1000, t * 1000, m / t))
    finally:
        for p in (mox, tkp):
            p.kill()
            p.wait()
        subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
PY

cat >"$dir/tk_peer.py" <<'PY'
import tkinter as tk

BACKGROUNDS = ["#000000", "#002b36", "#073642", "#293955", "#eee8d5", "#fdf6e3", "#ffffff"]
FOREGROUNDS = ["#b98000", "#cb4b16", "#dc322f", "#d33682", "#6c71c4", "#268bd2", "#2aa198",
               "#859900", "#82bb82", "#000000", "#657b83", "#839496", "#93a1a1", "#ffffff"]

root = tk.Tk()
root.title("Tk Console")
root.geometry("640x480+0+0")


def box(parent, colour, row, column):
    c = tk.Canvas(parent, width=20, height=20, bg=colour, highlightthickness=0)
    c.create_rectangle(0, 0, 19, 19, outline="#808080")
    c.grid(row=row, column=column, padx=5, pady=5)


def field(parent, text, justify):
    e = tk.Entry(parent, width=12, justify=justify)
    e.insert(0, text)
    return e


def settings(event=None):
    top = tk.Toplevel(root)
    top.title("Settings")
    top.geometry("346x295")
    back = tk.LabelFrame(top, text="Background color")
    back.grid(row=0, column=0, columnspan=4, sticky="we", padx=10, pady=5)
    for i, colour in enumerate(BACKGROUNDS):
        box(back, colour, 0, i)
    field(back, "252.252.252", "center").grid(row=0, column=7)
    fore = tk.LabelFrame(top, text="Font color")
    fore.grid(row=1, column=0, columnspan=4, sticky="we", padx=10, pady=5)
    for i, colour in enumerate(FOREGROUNDS):
        box(fore, colour, i // 7, i % 7)
    field(fore, "0.0.0", "center").grid(row=0, column=7)
    tk.Checkbutton(top, text="Mouse Copy&Paste").grid(row=2, column=0, sticky="w", padx=10)
    tk.Label(top, text="Buffer Lines:").grid(row=2, column=1)
    field(top, "10000", "right").grid(row=2, column=2)
    tk.Checkbutton(top, text="Dark Mode", state="disabled").grid(row=3, column=0, sticky="w",
                                                                 padx=10)
    tk.Button(top, text="OK", width=8, command=top.destroy).grid(row=4, column=1, pady=20)
    tk.Button(top, text="Cancel", width=8, command=top.destroy).grid(row=4, column=2, pady=20)
    top.bind("<Alt-F4>", lambda e: top.destroy())


root.bind("<Alt-o>", settings)
root.mainloop()
PY

if [ "${1:-}" = "--native-only" ]; then
  python3 "$dir/bench.py" "$mox_bin" "$dir"
  exit 0
fi
for tool in Xvfb wine xdotool python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done
mox_exe="${MOX_EXE:-$(pwd)/build/cfg-bench-win64/mox.exe}"
if [ -z "${MOX_EXE:-}" ]; then
  cmake -S . -B build/cfg-bench-win64 -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
  cmake --build build/cfg-bench-win64 -j3 --target mox >/dev/null
fi
# A prefix of this benchmark's own: its runs end with wineserver -k.
export WINEPREFIX="${WINEPREFIX:-$(pwd)/build/cfg-bench-win64/wineprefix}" WINEDEBUG=-all
scripts/wine-prefix "$WINEPREFIX"
# An Xvfb of its own on a free display from the GUI tests' range.
python3 - "$dir" "$mox_bin" "$mox_exe" <<'PY'
import os, subprocess, sys
folder, native, wine_exe = sys.argv[1:4]
os.environ.pop("DISPLAY", None)
sys.path.insert(0, os.path.join(os.getcwd(), "tests", "gui"))
import gui_check
xvfb = gui_check.start_display()
try:
    sys.exit(subprocess.run([sys.executable, os.path.join(folder, "bench.py"), native, folder,
                             wine_exe]).returncode)
finally:
    xvfb.kill()
    xvfb.wait()
PY
