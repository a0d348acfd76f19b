#!/usr/bin/env python3
"""Oracle streams for the deflate tests, made by zlib (through Python) and the
gzip command.

Writes into the folder given as argument, for each corpus NAME:
    NAME.bin             the original bytes
    NAME.raw-L.bin       raw deflate at level L (0-9)
    NAME.zlib-L.bin      zlib framing at level L
    NAME.gzip-L.bin      gzip framing at level L (Python's gzip, with a name)
    NAME.gzip-cmd.bin    the gzip command's output, when it is installed
    NAME.zlib-huff.bin / NAME.zlib-rle.bin / NAME.zlib-fixed.bin
                         zlib's Huffman-only, RLE and fixed-code strategies
and streams.txt listing "NAME STREAM FRAMING" per stream.
"""
import gzip, io, os, random, shutil, subprocess, sys, zlib

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
rng = random.Random(1951)

words = [b"deflate", b"stream", b"window", b"the", b"of", b"and", b"block", b"code",
         b"length", b"distance", b"literal", b"Huffman", b"table", b"\n", b", ", b". "]
def text(n):
    parts, size = [], 0
    while size < n:
        w = rng.choice(words) + b" "
        parts.append(w)
        size += len(w)
    return b"".join(parts)[:n]

corpora = {
    "empty": b"",
    "one": b"x",
    "text": text(100000),
    "random": bytes(rng.getrandbits(8) for _ in range(70000)),
    "zeros": bytes(200000),
    "skewed": bytes(rng.choice(b"aaaaaaaabbbbccd") for _ in range(50000)),
    "big": text(3_000_000),
    "magic": b"\x1f\x8b\x08" + text(5000),
}

listing = []
def emit(name, kind, framing, data):
    fname = "%s.%s.bin" % (name, kind)
    with open(os.path.join(out, fname), "wb") as f:
        f.write(data)
    listing.append("%s %s %s" % (name, fname, framing))

gzip_cmd = shutil.which("gzip")
for name, data in corpora.items():
    with open(os.path.join(out, name + ".bin"), "wb") as f:
        f.write(data)
    levels = range(10) if len(data) < 1_000_000 else (1, 6, 9)
    for level in levels:
        c = zlib.compressobj(level, zlib.DEFLATED, -15)
        emit(name, "raw-%d" % level, "raw", c.compress(data) + c.flush())
        emit(name, "zlib-%d" % level, "zlib", zlib.compress(data, level))
        buf = io.BytesIO()
        with gzip.GzipFile(filename="corpus.txt", mode="wb", compresslevel=level, fileobj=buf, mtime=0) as g:
            g.write(data)
        emit(name, "gzip-%d" % level, "gzip", buf.getvalue())
    for label, strategy in (("huff", zlib.Z_HUFFMAN_ONLY), ("rle", zlib.Z_RLE), ("fixed", zlib.Z_FIXED)):
        c = zlib.compressobj(6, zlib.DEFLATED, 15, 8, strategy)
        emit(name, "zlib-" + label, "zlib", c.compress(data) + c.flush())
    # Small windows and memory levels change the block layout zlib chooses.
    c = zlib.compressobj(9, zlib.DEFLATED, 9, 1)
    emit(name, "zlib-w9", "zlib", c.compress(data) + c.flush())
    if gzip_cmd:
        emit(name, "gzip-cmd", "gzip", subprocess.run([gzip_cmd, "-c", "-n"], input=data,
                                                      stdout=subprocess.PIPE, check=True).stdout)

with open(os.path.join(out, "streams.txt"), "w") as f:
    f.write("\n".join(listing) + "\n")
