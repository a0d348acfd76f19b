#!/usr/bin/env bash
# Image channels beside Python's bytearray strided slices, in one run, on a
# 4000x4000 picture: img/rgb and img/alpha (reading the channels into a
# binary), and make image! from an rgb and an alpha binary. Python does the
# same work with slice assignments over a BGRA bytearray (and translate for
# the inverted alpha). Then JPEG encoding and decoding of 2000x2000 pixels
# by the Windows build under Wine against cjpeg and djpeg (whole process
# times for the peers: reported only). Each Mox side times only the call
# (now/precise); results are compared with Python's once. Prints medians and
# the ratio of Mox's time to the peer's.
#
# usage: bench/run-image.sh [RUNS] [--no-wine]
set -eu
cd "$(dirname "$0")/.."
runs=${1:-5}
wine=${2:-}
native=${BUILD:-build/img-bench}
cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF >/dev/null
cmake --build "$native" --target mox-run -j 3 >/dev/null
win=""
if [ "$wine" != --no-wine ]; then
  win=${WIN_BUILD:-build/img-bench-win64}
  cmake -S . -B "$win" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
  cmake --build "$win" --target mox-run -j 3 >/dev/null
fi
python3 - "$runs" "$native/mox-run" "${win:+$win/mox-run.exe}" <<'PY'
import os, shutil, statistics, subprocess, sys, tempfile, time
runs, native, win = int(sys.argv[1]), sys.argv[2], sys.argv[3]
WINE = ["scripts/wine-run"]
W = H = 4000
folder = tempfile.mkdtemp(prefix="mox-image-bench-")
def path(name): return os.path.join(folder, name)
def seconds(out):
    h, m, s = out.strip().splitlines()[-1].split(":")
    return int(h) * 3600 + int(m) * 60 + float(s)
def run_mox(runner, code, wine=False):
    with open(path("bench.mox"), "w") as f:
        f.write(code)
    arg = ("Z:" + path("bench.mox").replace("/", "\\")) if wine else path("bench.mox")
    return subprocess.run((WINE if wine else []) + runner + [arg], capture_output=True, text=True,
                          check=True).stdout
def mox_file(name, wine=False): return ("%/Z" if wine else "%") + path(name)
INV = bytes(255 - i for i in range(256))

rgb = (bytes(range(251)) * (W * H * 3 // 251 + 1))[:W * H * 3]
alpha = (bytes(range(255, 0, -2)) * (W * H // 128 + 1))[:W * H]
with open(path("rgb.bin"), "wb") as f: f.write(rgb)
with open(path("alpha.bin"), "wb") as f: f.write(alpha)

def py_make(rgb, alpha):
    px = bytearray(W * H * 4)
    px[2::4] = rgb[0::3]; px[1::4] = rgb[1::3]; px[0::4] = rgb[2::3]
    px[3::4] = alpha.translate(INV)
    return px
def py_rgb(px):
    out = bytearray(W * H * 3)
    out[0::3] = px[2::4]; out[1::3] = px[1::4]; out[2::3] = px[0::4]
    return out
def py_alpha(px): return px[3::4].translate(INV)

LOAD = (f"r: read/binary {mox_file('rgb.bin')} a: read/binary {mox_file('alpha.bin')} "
        f"img: make image! reduce [{W}x{H} r a] ")
MOX = {
    "img/rgb": LOAD + "t: now/precise x: img/rgb print difference now/precise t",
    "img/alpha": LOAD + "t: now/precise x: img/alpha print difference now/precise t",
    "make image!": (f"r: read/binary {mox_file('rgb.bin')} a: read/binary {mox_file('alpha.bin')} "
                    f"t: now/precise x: make image! reduce [{W}x{H} r a] print difference now/precise t"),
}
def timed(f, *a):
    t = time.perf_counter(); f(*a); return time.perf_counter() - t
try:
    px = py_make(rgb, alpha)
    run_mox([native], LOAD + f"write/binary {mox_file('argb.bin')} img/argb "
            f"write/binary {mox_file('rgb-out.bin')} img/rgb write/binary {mox_file('alpha-out.bin')} img/alpha")
    with open(path("argb.bin"), "rb") as f: assert f.read() == bytes(px), "argb differs"
    with open(path("rgb-out.bin"), "rb") as f: assert f.read() == py_rgb(px), "rgb differs"
    with open(path("alpha-out.bin"), "rb") as f: assert f.read() == alpha, "alpha differs"
    print("%-12s%10s%10s%10s  (native, %dx%d, median of %d)" % ("call", "mox s", "python s", "mox/py", W, H, runs))
    peers = {"img/rgb": lambda: timed(py_rgb, px), "img/alpha": lambda: timed(py_alpha, px),
             "make image!": lambda: timed(py_make, rgb, alpha)}
    for op in MOX:
        tm = statistics.median(seconds(run_mox([native], MOX[op])) for _ in range(runs))
        tp = statistics.median(peers[op]() for _ in range(runs))
        print("%-12s%10.3f%10.3f%10.2f" % (op, tm, tp, tm / tp))
    if win and shutil.which("cjpeg") and shutil.which("djpeg"):
        J = 2000
        row = lambda y: bytes(v for x in range(J) for v in ((x * 255) // J, (y * 255) // J, ((x + y) * 127) // J))
        smooth = b"".join(row(y) for y in range(J))
        with open(path("j.rgb"), "wb") as f: f.write(smooth)
        with open(path("j.ppm"), "wb") as f: f.write(b"P6\n%d %d\n255\n" % (J, J) + smooth)
        load = f"img: make image! reduce [{J}x{J} read/binary {mox_file('j.rgb', True)}] "
        run_mox([win], load + f"write/binary {mox_file('j.jpg', True)} image/encode img none 'jpeg", True)
        enc = load + "t: now/precise x: image/encode img none 'jpeg print difference now/precise t"
        dec = (f"d: read/binary {mox_file('j.jpg', True)} "
               "t: now/precise x: image/decode d print difference now/precise t")
        def proc(cmd):
            t = time.perf_counter(); subprocess.run(cmd, check=True, capture_output=True)
            return time.perf_counter() - t
        subprocess.run(["cjpeg", "-quality", "75", "-outfile", path("c.jpg"), path("j.ppm")], check=True)
        print("%-12s%10s%10s%10s  (Wine, %dx%d, median of %d; peers timed as whole processes)"
              % ("call", "mox s", "peer s", "mox/peer", J, J, runs))
        te = statistics.median(seconds(run_mox([win], enc, True)) for _ in range(runs))
        pe = statistics.median(proc(["cjpeg", "-quality", "75", "-outfile", path("c2.jpg"), path("j.ppm")])
                               for _ in range(runs))
        print("%-12s%10.3f%10.3f%10.2f" % ("jpeg encode", te, pe, te / pe))
        td = statistics.median(seconds(run_mox([win], dec, True)) for _ in range(runs))
        pd = statistics.median(proc(["djpeg", "-outfile", path("d.ppm"), path("j.jpg")]) for _ in range(runs))
        print("%-12s%10.3f%10.3f%10.2f" % ("jpeg decode", td, pd, td / pd))
finally:
    shutil.rmtree(folder, ignore_errors=True)
PY
