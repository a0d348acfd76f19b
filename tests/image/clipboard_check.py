#!/usr/bin/env python3
"""Checks images on the clipboard against the X clipboard through xclip.

Usage: clipboard_check.py MOX-RUN [DIB-PROBE EMULATOR]

Under Wine (on the X display of DISPLAY): an image written by
write-clipboard comes out of `xclip -t image/png` as a PNG of that size and
those pixels (read by fixtures.py); a PNG put by xclip reads back as the
same image (Wine offers it only as "PNG"); inside Windows an image makes the
round trip, and an image of no pixels empties the clipboard; bitmaps that
another program (dib-probe) offers only as CF_DIB, of 1, 4, 8 and 16 bits
and run-length coded, read back as their pixels, opaque. The native build
has no clipboard: both routines report failure.
"""
import struct
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fixtures as fx  # noqa: E402

failures = []


def check(what, got, expected):
    if got != expected:
        failures.append(f"{what}: expected {expected!r}, got {got!r}")


def script_file(folder, code):
    path = os.path.join(folder, "c.mox")
    with open(path, "w", encoding="utf-8") as f:
        f.write(code)
    return path


def run(mox_run, emulator, folder, code):
    path = script_file(folder, code)
    arg = ("Z:" + path.replace("/", "\\")) if emulator else path
    out = subprocess.run(emulator + [mox_run, arg], capture_output=True, timeout=120)
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


def image_literal(pixels, w, h):
    rgb = bytes(v for p in pixels for v in p[:3]).hex().upper()
    transparency = bytes(255 - p[3] for p in pixels).hex().upper()
    return f"make image! [{w}x{h} #{{{rgb}}} #{{{transparency}}}]"


def main():
    mox_run = sys.argv[1]
    probe = sys.argv[2] if len(sys.argv) > 3 else None
    emulator = sys.argv[3:] if probe else []
    folder = tempfile.mkdtemp()
    src = fx.source()
    w, h = fx.W, fx.H
    literal = image_literal(src, w, h)
    try:
        if not emulator:
            check("native", run(mox_run, [], folder, f"print mold reduce [write-clipboard {literal} read-clipboard]"),
                  ["[false false]"])
        elif not os.environ.get("DISPLAY"):
            failures.append("no X display for the clipboard")
        else:
            to_x(mox_run, emulator, folder, literal, src, w, h)
            from_x(mox_run, emulator, folder, src, w, h)
            from_dib(mox_run, probe, emulator, folder)
            lines = run(mox_run, emulator, folder, f"""
img: {literal}
print mold write-clipboard img
got: read-clipboard
print mold reduce [type? got got/size got = img]
print mold write-clipboard make image! 0x0
print mold read-clipboard
""")
            check("inside Windows", lines, ["true", f"[image! {w}x{h} true]", "true", "none"])
    finally:
        for name in os.listdir(folder):
            os.unlink(os.path.join(folder, name))
        os.rmdir(folder)
    for f in failures:
        print("FAIL:", f)
    print(f"{'ok' if not failures else 'FAILED'}: image clipboard")
    return 1 if failures else 0


def to_x(mox_run, emulator, folder, literal, src, w, h):
    # Wine's clipboard leaves X with the last Wine process: the script
    # writes, then waits on a FIFO until X has read the image.
    fifo = os.path.join(folder, "go")
    os.mkfifo(fifo)
    path = script_file(folder, f'print write-clipboard {literal} read %/Z{fifo} print "done"')
    writer = subprocess.Popen(emulator + [mox_run, "Z:" + path.replace("/", "\\")],
                              stdout=subprocess.PIPE)
    try:
        got = b""
        for _ in range(150):
            got = subprocess.run(["xclip", "-selection", "clipboard", "-t", "image/png", "-o"],
                                 capture_output=True, timeout=10).stdout
            if got.startswith(b"\x89PNG") or writer.poll() is not None:
                break
            time.sleep(0.1)
        try:
            gw, gh, pixels = fx.read_png(got)
            check("to X: size", (gw, gh), (w, h))
            check("to X: pixels", pixels == src, True)
        except (AssertionError, ValueError, KeyError, UnboundLocalError) as e:
            failures.append(f"to X: not a PNG ({e!r}, {len(got)} bytes)")
    finally:
        release(fifo, writer)
        out = writer.communicate(timeout=60)[0].decode().split()
        check("to X: write", out, ["true", "done"])


def from_x(mox_run, emulator, folder, src, w, h):
    png = os.path.join(folder, "x.png")
    with open(png, "wb") as f:
        f.write(fx.png(src, w, h))
    server = subprocess.Popen(["xclip", "-selection", "clipboard", "-t", "image/png", "-i", png],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(0.5)
        lines = run(mox_run, emulator, folder,
                    "img: read-clipboard print [type? img img/size enbase/base img/argb 16]")
    finally:
        server.kill()
        server.wait(timeout=10)
    want = bytes(v for r, g, b, a in src for v in (b, g, r, a)).hex().upper()
    check("from X", lines, [f"image {w}x{h} {want}"])


# --- DIBs the clipboard's own reader leaves to the system --------------------
# 5x3 pictures, rows bottom up as a DIB keeps them; pixel (x, y), y counted
# from the top, takes palette entry (x + 2y) mod the palette's size.
DW, DH = 5, 3


def info_header(bits, compression, image_size, colours):
    return struct.pack("<IiiHHIIiiII", 40, DW, DH, 1, bits, compression, image_size, 0, 0,
                       colours, 0)


def palette(n):
    return [((53 * i + 11) % 256, (97 * i + 200) % 256, (29 * i + 70) % 256) for i in range(n)]


def index(x, y, n):
    return (x + 2 * y) % n


def packed_rows(bits, n):
    rows = b""
    for y in reversed(range(DH)):
        row, acc, filled = bytearray(), 0, 0
        for x in range(DW):
            acc = acc << bits | index(x, y, n)
            filled += bits
            if filled == 8:
                row.append(acc)
                acc = filled = 0
        if filled:
            row.append(acc << (8 - filled))
        rows += bytes(row) + b"\0" * (-len(row) % 4)
    return rows


def rle8_rows(n):
    out = b""
    for y in reversed(range(DH)):
        for x in range(DW):
            out += bytes([1, index(x, y, n)])
        out += b"\0\0"
    return out + b"\0\1"


def rle4_rows(n):
    # Runs of two pixels: the two nibbles alternate over the run.
    out = b""
    for y in reversed(range(DH)):
        x = 0
        while x < DW:
            run = min(2, DW - x)
            hi = index(x, y, n)
            lo = index(x + 1, y, n) if run == 2 else 0
            out += bytes([run, hi << 4 | lo])
            x += run
        out += b"\0\0"
    return out + b"\0\1"


def paletted(bits, compression=0):
    n = 1 << bits
    colours = palette(n)
    rows = {0: packed_rows, 1: lambda b, k: rle8_rows(k), 2: lambda b, k: rle4_rows(k)}[compression](bits, n)
    table = b"".join(bytes([b, g, r, 0]) for r, g, b in colours)
    dib = info_header(bits, compression, len(rows), n) + table + rows
    want = [colours[index(x, y, n)] for y in range(DH) for x in range(DW)]
    return dib, want


def sixteen(masks):
    # Channels at either end of their range, so that widening them to 8
    # bits has one answer.
    shifts = [(m & -m).bit_length() - 1 for m in masks]
    want, rows = [], b""
    for y in range(DH):
        for x in range(DW):
            want.append(tuple(255 * ((x + y + c) % 2) for c in range(3)))
    for y in reversed(range(DH)):
        row = b""
        for x in range(DW):
            v = 0
            for c, (m, s) in enumerate(zip(masks, shifts)):
                if want[y * DW + x][c]:
                    v |= m
            row += struct.pack("<H", v)
        rows += row + b"\0" * (-len(row) % 4)
    if masks == [0x7C00, 0x3E0, 0x1F]:
        return info_header(16, 0, len(rows), 0) + rows, want
    return info_header(16, 3, len(rows), 0) + struct.pack("<III", *masks) + rows, want


def from_dib(mox_run, probe, emulator, folder):
    cases = [("1-bit", *paletted(1)), ("4-bit", *paletted(4)), ("8-bit", *paletted(8)),
             ("8-bit run-length", *paletted(8, 1)), ("4-bit run-length", *paletted(4, 2)),
             ("16-bit 5-5-5", *sixteen([0x7C00, 0x3E0, 0x1F])),
             ("16-bit 5-6-5 masks", *sixteen([0xF800, 0x7E0, 0x1F]))]
    for name, dib, want in cases:
        path = os.path.join(folder, "dib.bin")
        with open(path, "wb") as f:
            f.write(dib)
        holder = subprocess.Popen(emulator + [probe, "Z:" + path.replace("/", "\\")],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            ready = holder.stdout.readline().decode().strip()
            if ready != "ready":
                failures.append(f"DIB {name}: the probe said {ready!r}")
                continue
            lines = run(mox_run, emulator, folder,
                        "img: read-clipboard print [type? img img/size enbase/base img/argb 16]")
        finally:
            holder.communicate(b"\n", timeout=60)
        pixels = bytes(v for r, g, b in want for v in (b, g, r, 255)).hex().upper()
        check(f"DIB {name}", lines, [f"image {DW}x{DH} {pixels}"])


if __name__ == "__main__":
    sys.exit(main())
