"""Independent reader of the compact Moxbin form for a subset of records
(header, symbol table, scalars, strings, binaries, images, blocks, words,
natives, actions, ops, functions, errors, context records and shared records, whose
paths are shown, not followed), written from the format's tables. Reads a
document on standard input and prints the value as text, e.g.
block[int(1) string('a')]."""
import struct
import sys

NAMES = {5: "block", 6: "paren", 15: "word", 16: "set-word", 17: "lit-word",
         18: "get-word", 19: "refinement"}


class Reader:
    def __init__(self, data):
        assert data[:6] == b"MOXBIN", "magic"
        self.flags = data[7]
        assert self.flags & 1, "compact form only"
        self.data, self.pos = data, 8
        self.varint()
        length = self.varint()
        self.symbols = []
        if self.flags & 4:
            count, size = self.varint(), self.varint()
            offsets = struct.unpack_from("<%dI" % count, data, self.pos)
            self.pos += 4 * count
            names = data[self.pos:self.pos + size]
            assert names.endswith(b"\0")
            self.pos += size
            self.symbols = [names[o:names.index(b"\0", o)].decode("utf-8") for o in offsets]
        self.end = self.pos + length
        assert self.end == len(data), "records length"

    def byte(self):
        b = self.data[self.pos]
        self.pos += 1
        return b

    def varint(self):
        v = shift = 0
        for i in range(5):
            b = self.byte()
            v |= (b & 0x7F) << shift
            shift += 7
            if not b & 0x80:
                return v
        raise AssertionError("varint too long")

    def zigzag(self):
        u = self.varint()
        return (u >> 1) ^ -(u & 1)

    def double(self):
        (d,) = struct.unpack_from("<d", self.data, self.pos)
        self.pos += 8
        return d

    def path(self):
        n = self.varint()
        return ".".join(str(self.varint()) for _ in range(n))

    def context(self):
        assert self.byte() == 14, "context record"
        flags = self.byte()
        words = [self.symbols[self.varint()] for _ in range(self.varint())]
        values = []
        if flags & 16 and not flags & 4:
            values = [self.record() for _ in words]
        return "ctx%d(%s)" % (flags & 3, " ".join(
            w + ("=" + v if values else "") for w, v in zip(words, values or words)))

    def shared(self):
        lead = self.byte()
        t, bit6 = lead & 0x3F, lead & 0x40
        if t in NAMES and t not in (5, 6):
            name = self.symbols[self.varint()]
            return "%s(%s@%d->%s)" % (NAMES[t], name, self.zigzag(), self.path())
        if bit6 and t in (5, 6, 7, 41, 53):
            self.varint()
        return "shared-%d(%s)" % (t, self.path())

    def record(self):
        lead = self.byte()
        assert lead not in (0xC4, 0xFF), "references are not read here"
        if lead == 0xC0:
            return self.record()
        if lead == 0xC1:
            return self.shared()
        if 0x80 <= lead <= 0xBF:
            return "int(%d)" % (lead - 0x80)
        if lead in (0xC2, 0xC3):
            return "logic(%s)" % (lead == 0xC2)
        t, bit6 = lead & 0x3F, lead & 0x40
        if t == 3:
            return "none"
        if t == 11:
            return "int(%d)" % self.zigzag()
        if t == 12:
            return "float(%r)" % (float(self.zigzag()) if bit6 else self.double())
        if t == 38:
            return "percent(%r)" % (self.zigzag() / 100.0 if bit6 else self.double())
        if t == 10:
            return "char(%d)" % self.varint()
        if t in (5, 6):
            if bit6:
                self.varint()
            n = self.varint()
            return "%s[%s]" % (NAMES[t], " ".join(self.record() for _ in range(n)))
        if t == 7:
            if bit6:
                self.varint()
            w = self.varint()
            unit = {0: 1, 1: 2, 2: 4}[w & 3]
            raw = self.data[self.pos:self.pos + (w >> 2) * unit]
            self.pos += len(raw)
            codec = {1: "latin-1", 2: "utf-16-le", 4: "utf-32-le"}[unit]
            return "string(%r)" % raw.decode(codec)
        if t == 41:
            if bit6:
                self.varint()
            n = self.varint()
            raw = self.data[self.pos:self.pos + n]
            self.pos += n
            return "binary(%s)" % raw.hex()
        if t == 53:
            head = self.varint() if bit6 else 0
            w, h = self.varint(), self.varint()
            raw = self.data[self.pos:self.pos + w * h * 4]
            assert len(raw) == w * h * 4, "pixels"
            self.pos += len(raw)
            return "image(%dx%d@%d %s)" % (w, h, head, raw.hex())
        if t in NAMES:
            name = self.symbols[self.varint()]
            if not bit6:
                return "%s(%s)" % (NAMES[t], name)
            index = self.zigzag()
            return "%s(%s@%d %s)" % (NAMES[t], name, index, self.record())
        if t in (21, 22):
            number = self.varint()
            return "%s%d%s" % ("native" if t == 21 else "action", number, self.record())
        if t == 23:
            return "op(%s)" % self.record()
        if t == 24:
            spec_length, body_length = self.varint(), self.varint()
            ctx = self.context()
            spec, body = self.record(), self.record()
            return "func%d/%d %s %s %s" % (spec_length, body_length, ctx, spec, body)
        if t == 34:
            code = self.varint()
            return "error%d(%s)" % (code, " ".join(self.record() for _ in range(6)))
        raise AssertionError("type %d not read here" % t)


if __name__ == "__main__":
    try:
        r = Reader(sys.stdin.buffer.read())
        out = r.record()
        assert r.pos == r.end, "trailing bytes"
        sys.stdout.write(out + "\n")
    except (AssertionError, IndexError, KeyError, struct.error) as e:
        sys.stderr.write("malformed: %r\n" % (e,))
        sys.exit(1)
