#!/usr/bin/env python3
"""Checks image/decode and image/encode against Python's own image files.

Usage: codec_check.py MOX-RUN [EMULATOR...]

Fixtures come from fixtures.py (zlib and struct) and, for JPEG, from cjpeg;
they are made in a scratch folder where the Mox script runs. Decoded pixels
must match the fixtures (JPEG: within 2 of djpeg on a 4:4:4 file); what the
encoders write is taken apart by the readers of fixtures.py (PNG chunks,
CRCs and filters, BMP, TIFF tags, GIF) or by djpeg. Cut, corrupt and
missing files must raise their errors. The codecs are those of the Windows
build (run under Wine); the native build has PNG and BMP only and must
answer no-codec for the others.
"""
import os
import shutil
import subprocess
import sys
import struct
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fixtures as fx  # noqa: E402

failures = []


def check(what, ok, detail=""):
    if not ok:
        failures.append(f"{what}: {detail}")


def hexa(pixels):
    """The image's argb channel (BGRA bytes) as upper-case hex."""
    return bytes(v for r, g, b, a in pixels for v in (b, g, r, a)).hex().upper()


def parse_argb(text, w, h):
    raw = bytes.fromhex(text)
    assert len(raw) == w * h * 4, f"{len(raw)} bytes for {w}x{h}"
    return [(raw[i + 2], raw[i + 1], raw[i], raw[i + 3]) for i in range(0, len(raw), 4)]


def max_diff(a, b, channels=4):
    return max(abs(p[k] - q[k]) for p, q in zip(a, b) for k in range(channels))


def decode_line(name):
    return (f'r: try [img: image/decode %{name}  print ["{name}" img/size enbase/base img/argb 16] true]\n'
            f'if error! = type? :r [print ["{name}" "error" r/id]]\n')


def encode_line(fmt, source, out):
    return (f'r: try [write %{out} image/encode {source} none \'{fmt}  print ["{out}" "written"] true]\n'
            f'if error! = type? :r [print ["{out}" "error" r/id]]\n')


def main():
    mox_run = os.path.abspath(sys.argv[1])
    emulator = [a for a in sys.argv[2:] if a]
    wine = bool(emulator)
    folder = tempfile.mkdtemp()
    try:
        return run(folder, mox_run, emulator, wine)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def run(folder, mox_run, emulator, wine):
    src = fx.source()
    w, h = fx.W, fx.H
    opaque = [(r, g, b, 255) for r, g, b, _ in src]
    files = {
        "src.png": fx.png(src, w, h),
        "src.bmp": fx.bmp24(src, w, h),
        "src.tif": fx.tiff(src, w, h),
    }
    palette = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (9, 9, 9)]
    indices = [(x + 2 * y) % 4 for y in range(h) for x in range(w)]
    files["src.gif"] = fx.gif(indices, w, h, palette, 3)
    png = files["src.png"]
    files["cut.png"] = png[:len(png) * 2 // 3]
    corrupt = bytearray(png)
    idat = png.index(b"IDAT")
    for i in range(idat + 6, idat + 14):
        corrupt[i] ^= 0x5A
    files["corrupt.png"] = bytes(corrupt)
    files["noise.bin"] = bytes(range(40))
    # PNG variants: interlaced RGBA, a 4-bit palette with transparency, 16-bit
    # grey with a transparent key, 2-bit grey, 16-bit grey and alpha.
    variants = {}
    variants["adam7.png"] = (fx.png_variant(src, w, h, 8, 6, interlace=True), src)
    pal = [(255, 0, 0), (0, 128, 255), (10, 20, 30)]
    idx = [(x * y + x) % 3 for y in range(h) for x in range(w)]
    extra = fx.chunk(b"PLTE", bytes(v for c in pal for v in c)) + fx.chunk(b"tRNS", bytes([255, 64]))
    variants["palette4.png"] = (fx.png_variant([(i,) for i in idx], w, h, 4, 3, extra=extra),
                                [pal[i] + ((255, 64, 255)[i],) for i in idx])
    grey16 = [((x * 9000 + y * 300) % 65536,) for y in range(h) for x in range(w)]
    key = grey16[3][0]
    variants["grey16.png"] = (fx.png_variant(grey16, w, h, 16, 0, extra=fx.chunk(b"tRNS", struct.pack(">H", key))),
                              [(v >> 8,) * 3 + (0 if v == key else 255,) for (v,) in grey16])
    grey2 = [((x + y) % 4,) for y in range(h) for x in range(w)]
    variants["grey2.png"] = (fx.png_variant(grey2, w, h, 2, 0, interlace=True),
                             [(v * 85,) * 3 + (255,) for (v,) in grey2])
    ga16 = [((x * 5000) % 65536, (y * 16000) % 65536) for y in range(h) for x in range(w)]
    variants["greyalpha16.png"] = (fx.png_variant(ga16, w, h, 16, 4),
                                   [(g >> 8,) * 3 + (a >> 8,) for g, a in ga16])
    for name, (data, _) in variants.items():
        files[name] = data
    smooth = fx.smooth(48, 32)
    files["smooth.ppm"] = fx.ppm(smooth, 48, 32)
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    have_jpeg_tools = shutil.which("cjpeg") and shutil.which("djpeg")
    if have_jpeg_tools:
        subprocess.run(["cjpeg", "-quality", "95", "-sample", "1x1", "-outfile",
                        os.path.join(folder, "smooth.jpg"), os.path.join(folder, "smooth.ppm")],
                       check=True)
        ref = subprocess.run(["djpeg", "-pnm", os.path.join(folder, "smooth.jpg")],
                             check=True, capture_output=True).stdout
        _, _, jpeg_ref = fx.read_ppm(ref)

    # The script: decodes, then encodes an image made from the fixture's
    # channels (so the encoders are checked even where no decoder exists).
    rgb = bytes(v for p in src for v in p[:3]).hex().upper()
    transparency = bytes(255 - p[3] for p in src).hex().upper()
    srgb = bytes(v for p in smooth for v in p[:3]).hex().upper()
    script = f"src: make image! [{w}x{h} #{{{rgb}}} #{{{transparency}}}]\n"
    script += f"smooth: make image! [48x32 #{{{srgb}}}]\n"
    names = ["src.png", "src.bmp", "src.tif", "src.gif", "cut.png", "corrupt.png", "noise.bin",
             "missing.png"] + list(variants) + (["smooth.jpg"] if have_jpeg_tools else [])
    for name in names:
        script += decode_line(name)
    # From bytes a decoder's failure is bad media and an unknown signature
    # none; from a file both are a file that cannot be opened.
    for name in ["cut.png", "corrupt.png", "noise.bin"]:
        script += (f'r: try [print ["bytes-{name}" mold image/decode read/binary %{name}] true]\n'
                   f'if error! = type? :r [print ["bytes-{name}" "error" r/id]]\n')
    for fmt, out in [("png", "out.png"), ("bmp", "out.bmp"), ("tiff", "out.tif"),
                     ("gif", "out.gif")]:
        script += encode_line(fmt, "src", out)
    script += encode_line("jpeg", "smooth", "out.jpg")
    script += ('r: try [print ["round-trip" (image/decode image/encode src none \'png) = src] true]\n'
               'if error! = type? :r [print ["round-trip" "error" r/id]]\n')
    script += 'print ["unknown-format" mold image/encode src none \'webp]\n'
    with open(os.path.join(folder, "codecs.mox"), "w") as f:
        f.write(script)
    out = subprocess.run(emulator + [mox_run, "codecs.mox"], cwd=folder, capture_output=True,
                         timeout=300)
    text = out.stdout.decode("utf-8", "replace").replace("\r", "")
    lines = {}
    for line in text.split("\n"):
        parts = line.split(" ")
        if parts and parts[0]:
            lines.setdefault(parts[0], parts[1:])
    if out.returncode != 0:
        failures.append(f"script ended with {out.returncode}: {text[-2000:]}")

    def decoded(name):
        got = lines.get(name)
        if not got or got[0] == "error":
            failures.append(f"decode {name}: {got}")
            return None
        dw, dh = map(int, got[0].split("x"))
        return dw, dh, parse_argb(got[1], dw, dh)

    def error_of(name):
        got = lines.get(name)
        return got[1] if got and got[0] == "error" else got

    portable = {"src.png", "src.bmp", "out.png", "out.bmp"}
    formats_here = (lambda n: True) if wine else (lambda n: n in portable)

    # Decoding.
    for name, expected in [("src.png", src), ("src.tif", src), ("src.bmp", opaque)]:
        if not formats_here(name):
            check(f"decode {name}", error_of(name) == "no-codec", lines.get(name))
            continue
        d = decoded(name)
        if d:
            check(f"decode {name} size", d[:2] == (w, h), d[:2])
            check(f"decode {name} pixels", d[2] == expected, "differ")
    for name, (_, expected) in variants.items():
        d = decoded(name)
        if d:
            check(f"decode {name} size", d[:2] == (w, h), d[:2])
            check(f"decode {name} pixels", d[2] == expected, "differ")
    if formats_here("src.gif"):
        d = decoded("src.gif")
        if d:
            want = [palette[i] + ((0,) if i == 3 else (255,)) for i in indices]
            check("decode src.gif alpha", [p[3] for p in d[2]] == [p[3] for p in want], "alpha")
            check("decode src.gif colours",
                  all(p[:3] == q[:3] for p, q in zip(d[2], want) if q[3] == 255), "colours")
    else:
        check("decode src.gif", error_of("src.gif") == "no-codec", lines.get("src.gif"))
    for name in ["cut.png", "corrupt.png", "noise.bin"]:
        check(f"decode file {name}", error_of(name) == "cannot-open", lines.get(name))
    for name in ["cut.png", "corrupt.png"]:
        check(f"decode bytes {name}", error_of("bytes-" + name) == "bad-media",
              lines.get("bytes-" + name))
    check("decode bytes noise.bin", lines.get("bytes-noise.bin") == ["none"],
          lines.get("bytes-noise.bin"))
    check("decode missing.png", error_of("missing.png") == "cannot-open", lines.get("missing.png"))
    if have_jpeg_tools:
        if formats_here("smooth.jpg"):
            d = decoded("smooth.jpg")
            if d:
                check("decode smooth.jpg size", d[:2] == (48, 32), d[:2])
                diff = max_diff(d[2], jpeg_ref, 3)
                check("decode smooth.jpg against djpeg", diff <= 2, f"max difference {diff}")
        else:
            check("decode smooth.jpg", error_of("smooth.jpg") == "no-codec", lines.get("smooth.jpg"))

    # Encoding.
    def written(name):
        got = lines.get(name)
        if not formats_here(name):
            check(f"encode {name}", got and got[:2] == ["error", "no-codec"], got)
            return None
        if got != ["written"]:
            failures.append(f"encode {name}: {got}")
            return None
        with open(os.path.join(folder, name), "rb") as f:
            return f.read()

    data = written("out.png")
    if data:
        try:
            ew, eh, pixels = fx.read_png(data)
            check("encode png size", (ew, eh) == (w, h), (ew, eh))
            check("encode png pixels", pixels == src, "differ")
        except AssertionError as e:
            failures.append(f"encode png: {e}")
    data = written("out.bmp")
    if data:
        try:
            ew, eh, bpp, pixels = fx.read_bmp(data)
            check("encode bmp size", (ew, eh) == (w, h), (ew, eh))
            check("encode bmp colours", [p[:3] for p in pixels] == [p[:3] for p in src], "differ")
            if bpp == 32:
                check("encode bmp alpha", [p[3] for p in pixels] == [p[3] for p in src], "alpha")
        except AssertionError as e:
            failures.append(f"encode bmp: {e}")
    data = written("out.tif")
    if data:
        try:
            tags, ew, eh, pixels = fx.read_tiff(data)
            check("encode tiff size", (ew, eh) == (w, h), (ew, eh))
            check("encode tiff pixels", pixels == src, "differ")
        except (AssertionError, KeyError) as e:
            failures.append(f"encode tiff: {e!r}")
    data = written("out.gif")
    if data:
        try:
            ew, eh, pixels = fx.read_gif(data)
            check("encode gif size", (ew, eh) == (w, h), (ew, eh))
            diff = max_diff(pixels, opaque, 3)
            check("encode gif colours", diff <= 48, f"max difference {diff}")
        except (AssertionError, IndexError) as e:
            failures.append(f"encode gif: {e!r}")
    data = written("out.jpg")
    if data and have_jpeg_tools:
        res = subprocess.run(["djpeg", "-pnm", os.path.join(folder, "out.jpg")], capture_output=True)
        check("encode jpeg readable by djpeg", res.returncode == 0, res.stderr[-200:])
        if res.returncode == 0:
            ew, eh, pixels = fx.read_ppm(res.stdout)
            check("encode jpeg size", (ew, eh) == (48, 32), (ew, eh))
            mean = sum(abs(p[k] - q[k]) for p, q in zip(pixels, smooth) for k in range(3)) / (48 * 32 * 3)
            check("encode jpeg near its source", mean <= 4, f"mean difference {mean:.2f}")
    if formats_here("out.png"):
        check("png round trip", lines.get("round-trip") == ["true"], lines.get("round-trip"))
    check("unknown format", lines.get("unknown-format") == ["none"], lines.get("unknown-format"))
    check("encoder message", "Cannot find image encoder" in text, "no message")

    for f in failures:
        print("FAIL:", f)
    print("ok: image codecs" if not failures else f"{len(failures)} codec checks failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
