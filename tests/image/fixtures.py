"""Image files written and read with Python's zlib and struct only.

The writers make the fixtures the image codecs decode (PNG RGBA with every
row filter, BMP 24-bit bottom up, uncompressed TIFF RGBA, GIF with a tiny
LZW coder and a transparent index); the readers take apart what the
encoders write (PNG chunks, CRCs and filters, BMP, TIFF tags, GIF). Pixels
are lists of (r, g, b, a) tuples, rows top down, a = 255 opaque.
"""
import struct
import zlib

W, H = 7, 5


def source():
    """A small picture with every kind of alpha."""
    alphas = [255, 0, 128, 1, 254]
    return [((37 * x + 5) % 256, (40 * y + 7) % 256, (x * y * 13 + 3) % 256,
             alphas[(x + y) % 5]) for y in range(H) for x in range(W)]


def smooth(w, h):
    """An opaque smooth gradient (what lossy coders keep well)."""
    return [(int(255 * x / (w - 1)), int(255 * y / (h - 1)), int(128 + 100 * ((x + y) / (w + h - 2)) - 50), 255)
            for y in range(h) for x in range(w)]


# --- PNG ----------------------------------------------------------------------

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def png(pixels, w, h):
    """Colour type 6, depth 8; row y uses filter y mod 5."""
    raw = bytearray()
    prev = bytes(w * 4)
    for y in range(h):
        row = bytes(v for p in pixels[y * w:(y + 1) * w] for v in p)
        f = y % 5
        raw.append(f)
        for i, v in enumerate(row):
            a = row[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            pred = [0, a, b, (a + b) // 2, paeth(a, b, c)][f]
            raw.append((v - pred) & 255)
        prev = row
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b""))


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def pack_samples(samples, depth):
    """Samples of one row packed at the depth (high bits first), padded."""
    if depth == 16:
        return b"".join(struct.pack(">H", v) for v in samples)
    if depth == 8:
        return bytes(samples)
    out, acc, n = bytearray(), 0, 0
    for v in samples:
        acc = acc << depth | v
        n += depth
        if n == 8:
            out.append(acc)
            acc, n = 0, 0
    if n:
        out.append(acc << (8 - n))
    return bytes(out)


def png_variant(samples, w, h, depth, ctype, interlace=False, extra=b""):
    """A PNG of raw samples (a list of per-pixel sample tuples) with filter 0,
    plain or Adam7 interlaced; extra holds chunks put before IDAT."""
    passes = ADAM7 if interlace else [(0, 0, 1, 1)]
    raw = bytearray()
    for x0, y0, dx, dy in passes:
        xs = list(range(x0, w, dx))
        if not xs:
            continue
        for y in range(y0, h, dy):
            raw.append(0)
            raw += pack_samples([v for x in xs for v in samples[y * w + x]], depth)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, ctype, 0, 0, int(interlace)))
            + extra + chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b""))


def read_png(data):
    """Checks signature, chunk CRCs and filters; returns (w, h, pixels)."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "PNG signature"
    at, idat, palette, trns = 8, b"", None, None
    while at < len(data):
        (n,) = struct.unpack(">I", data[at:at + 4])
        kind, body = data[at + 4:at + 8], data[at + 8:at + 8 + n]
        (crc,) = struct.unpack(">I", data[at + 8 + n:at + 12 + n])
        assert crc == zlib.crc32(kind + body), f"CRC of {kind!r}"
        if kind == b"IHDR":
            w, h, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and interlace == 0, f"depth {depth} interlace {interlace}"
        elif kind == b"PLTE":
            palette = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b"tRNS":
            trns = body
        elif kind == b"IDAT":
            idat += body
        at += 12 + n
        if kind == b"IEND":
            break
    channels = {6: 4, 2: 3, 3: 1, 0: 1, 4: 2}[ctype]
    raw = zlib.decompress(idat)
    stride = w * channels
    assert len(raw) == h * (stride + 1), "IDAT length"
    rows, prev = [], bytearray(stride)
    for y in range(h):
        f = raw[y * (stride + 1)]
        assert f <= 4, f"filter {f}"
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = row[i - channels] if i >= channels else 0
            b = prev[i]
            c = prev[i - channels] if i >= channels else 0
            row[i] = (row[i] + [0, a, b, (a + b) // 2, paeth(a, b, c)][f]) & 255
        rows.append(row)
        prev = row
    pixels = []
    for row in rows:
        for x in range(w):
            p = row[x * channels:(x + 1) * channels]
            if ctype == 6:
                pixels.append(tuple(p))
            elif ctype == 2:
                pixels.append((p[0], p[1], p[2], 255))
            elif ctype == 3:
                alpha = trns[p[0]] if trns and p[0] < len(trns) else 255
                pixels.append(palette[p[0]] + (alpha,))
            elif ctype == 0:
                pixels.append((p[0], p[0], p[0], 255))
            else:
                pixels.append((p[0], p[0], p[0], p[1]))
    return w, h, pixels


# --- BMP ----------------------------------------------------------------------

def bmp24(pixels, w, h):
    stride = (w * 3 + 3) & ~3
    body = bytearray()
    for y in reversed(range(h)):
        for r, g, b, _ in pixels[y * w:(y + 1) * w]:
            body += bytes((b, g, r))
        body += bytes(stride - w * 3)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(info) + len(body), 0, 0, 14 + len(info)) + info + body


def read_bmp(data):
    """24- or 32-bit uncompressed (or 32-bit bit fields) -> (w, h, bpp, pixels)."""
    assert data[:2] == b"BM", "BMP signature"
    (offset,) = struct.unpack("<I", data[10:14])
    size, w, h, planes, bpp, comp = struct.unpack("<IiiHHI", data[14:34])
    assert planes == 1 and bpp in (24, 32) and comp in (0, 3), (planes, bpp, comp)
    stride = (w * bpp // 8 + 3) & ~3
    pixels = []
    for y in range(abs(h)):
        src = abs(h) - 1 - y if h > 0 else y
        row = data[offset + src * stride:offset + (src + 1) * stride]
        for x in range(w):
            if bpp == 24:
                b, g, r = row[3 * x:3 * x + 3]
                pixels.append((r, g, b, 255))
            else:
                b, g, r, a = row[4 * x:4 * x + 4]
                pixels.append((r, g, b, a))
    return w, abs(h), bpp, pixels


# --- TIFF ---------------------------------------------------------------------

def tiff(pixels, w, h):
    """Little-endian, one strip, uncompressed RGBA (unassociated alpha)."""
    body = bytes(v for p in pixels for v in p)
    entries = [(256, 3, 1, w), (257, 3, 1, h), (258, 3, 4, None), (259, 3, 1, 1),
               (262, 3, 1, 2), (273, 4, 1, None), (277, 3, 1, 4), (278, 3, 1, h),
               (279, 4, 1, len(body)), (284, 3, 1, 1), (338, 3, 1, 2)]
    ifd_at = 8
    ifd_len = 2 + 12 * len(entries) + 4
    bits_at = ifd_at + ifd_len
    data_at = bits_at + 8
    out = bytearray(b"II*\0" + struct.pack("<I", ifd_at))
    out += struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        if tag == 258:
            value = bits_at
        elif tag == 273:
            value = data_at
        if kind == 3 and count == 1:
            out += struct.pack("<HHIHH", tag, kind, count, value, 0)
        else:
            out += struct.pack("<HHII", tag, kind, count, value)
    out += struct.pack("<I", 0)
    out += struct.pack("<HHHH", 8, 8, 8, 8)
    return bytes(out) + body


def read_tiff(data):
    """Reads the tags of the first IFD; returns (tags, w, h, pixels) for
    8-bit uncompressed RGB or RGBA in strips."""
    assert data[:4] == b"II*\0", "TIFF signature (little-endian)"
    (ifd,) = struct.unpack("<I", data[4:8])
    (n,) = struct.unpack("<H", data[ifd:ifd + 2])
    sizes = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8}
    tags = {}
    for i in range(n):
        tag, kind, count = struct.unpack("<HHI", data[ifd + 2 + 12 * i:ifd + 10 + 12 * i])
        field = data[ifd + 10 + 12 * i:ifd + 14 + 12 * i]
        span = sizes[kind] * count
        raw = field if span <= 4 else data[struct.unpack("<I", field)[0]:][:span]
        fmt = {1: "B", 3: "H", 4: "I", 5: "II"}.get(kind)
        tags[tag] = list(struct.unpack("<" + fmt * count, raw[:span])) if fmt else raw
    w, h = tags[256][0], tags[257][0]
    spp = tags.get(277, [1])[0]
    assert tags.get(259, [1])[0] == 1, "compressed TIFF"
    assert spp in (3, 4), f"samples per pixel {spp}"
    body = b"".join(data[o:o + c] for o, c in zip(tags[273], tags[279]))
    pixels = []
    for i in range(w * h):
        p = body[i * spp:(i + 1) * spp]
        pixels.append(tuple(p) if spp == 4 else tuple(p) + (255,))
    return tags, w, h, pixels


# --- GIF ----------------------------------------------------------------------

def gif(indices, w, h, palette, transparent):
    """GIF89a; the LZW coder sends a clear code before every pixel, so codes
    stay 3 bits wide (palette of 4, minimum code size 2)."""
    assert len(palette) == 4
    clear, end, width = 4, 5, 3
    bits, nbits, out = 0, 0, bytearray()

    def put(code):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 255)
            bits >>= 8
            nbits -= 8

    for i in indices:
        put(clear)
        put(i)
    put(end)
    if nbits:
        out.append(bits & 255)
    blocks = b"".join(bytes([len(out[i:i + 255])]) + out[i:i + 255] for i in range(0, len(out), 255))
    table = b"".join(bytes(c) for c in palette)
    return (b"GIF89a" + struct.pack("<HHBBB", w, h, 0x81, 0, 0) + table
            + b"\x21\xf9\x04\x01\x00\x00" + bytes([transparent]) + b"\x00"
            + b"\x2c" + struct.pack("<HHHHB", 0, 0, w, h, 0) + b"\x02" + blocks + b"\x00\x3b")


def read_gif(data):
    """First image of a GIF (global or local table, LZW, no interlace) ->
    (w, h, pixels) with the transparent index given alpha 0."""
    assert data[:6] in (b"GIF87a", b"GIF89a"), "GIF signature"
    w, h, flags = struct.unpack("<HHB", data[6:11])
    at = 13
    table = []
    if flags & 0x80:
        n = 2 << (flags & 7)
        table = [tuple(data[at + 3 * i:at + 3 * i + 3]) for i in range(n)]
        at += 3 * n
    transparent = None
    while True:
        kind = data[at]
        if kind == 0x21:
            label = data[at + 1]
            at += 2
            if label == 0xF9 and data[at + 1] & 1:
                transparent = data[at + 4]
            while data[at]:
                at += data[at] + 1
            at += 1
        elif kind == 0x2C:
            x0, y0, iw, ih, iflags = struct.unpack("<HHHHB", data[at + 1:at + 10])
            at += 10
            assert not iflags & 0x40, "interlaced GIF"
            if iflags & 0x80:
                n = 2 << (iflags & 7)
                table = [tuple(data[at + 3 * i:at + 3 * i + 3]) for i in range(n)]
                at += 3 * n
            break
        else:
            raise AssertionError(f"GIF block {kind:#x}")
    min_size = data[at]
    at += 1
    stream = bytearray()
    while data[at]:
        stream += data[at + 1:at + 1 + data[at]]
        at += data[at] + 1
    clear, end = 1 << min_size, (1 << min_size) + 1
    out, pos, width = [], 0, min_size + 1
    dictionary, prev = None, None

    def reset():
        return [[i] for i in range(clear)] + [[], []]

    dictionary = reset()
    while True:
        code = 0
        for k in range(width):
            if pos >> 3 < len(stream) and stream[pos >> 3] >> (pos & 7) & 1:
                code |= 1 << k
            pos += 1
        if code == clear:
            dictionary, width, prev = reset(), min_size + 1, None
            continue
        if code == end or pos > len(stream) * 8:
            break
        if code < len(dictionary):
            entry = dictionary[code]
            if prev is not None:
                dictionary.append(prev + entry[:1])
        else:
            entry = prev + prev[:1]
            dictionary.append(entry)
        out += entry
        prev = entry
        if len(dictionary) == 1 << width and width < 12:
            width += 1
    pixels = []
    for y in range(ih):
        for x in range(iw):
            i = out[y * iw + x] if y * iw + x < len(out) else 0
            pixels.append(table[i] + (0 if i == transparent else 255,))
    return iw, ih, pixels


# --- PPM (cjpeg and djpeg) ------------------------------------------------------

def ppm(pixels, w, h):
    return b"P6\n%d %d\n255\n" % (w, h) + bytes(v for p in pixels for v in p[:3])


def read_ppm(data):
    parts = data.split(maxsplit=4)
    assert parts[0] == b"P6"
    w, h = int(parts[1]), int(parts[2])
    body = parts[4][:w * h * 3]
    return w, h, [tuple(body[3 * i:3 * i + 3]) + (255,) for i in range(w * h)]
