"""Independent reader of the LZ bit coder's format, written from its code
tables: reads a compressed buffer on standard input and writes the
uncompressed bytes on standard output. Exit status 1 on malformed input."""
import struct
import sys


class Bits:
    def __init__(self, data, pos):
        self.data, self.pos, self.acc, self.n = data, pos, 0, 0

    def read(self, n):
        while self.n < n:
            self.acc |= self.data[self.pos] << self.n
            self.pos += 1
            self.n += 8
        v = self.acc & ((1 << n) - 1)
        self.acc >>= n
        self.n -= n
        return v


LENGTH_CODES = [(2, 0), (2, 4), (2, 8), (3, 12), (5, 20)]


def decode(data):
    payload, total = struct.unpack_from("<II", data, 0)
    end = 8 + payload
    assert end == len(data), "payload length does not match the buffer"
    pos, out = 8, bytearray()
    while pos < end:
        (block,) = struct.unpack_from("<I", data, pos)
        assert 1 <= block <= 1 << 20
        bits = Bits(data, pos + 4)
        start = len(out)
        while len(out) - start < block:
            if bits.read(1) == 0:
                out.append(bits.read(8))
                continue
            for width, base in LENGTH_CODES:
                if bits.read(1) == 1:
                    length = 3 + base + bits.read(width)
                    break
            else:
                length = 3 + 52 + bits.read(9)
            j = bits.read(4) + 2
            d = bits.read(3) if j == 2 else (1 << j) + bits.read(j)
            dist = d + 1
            assert dist <= len(out) - start and len(out) - start + length <= block
            for _ in range(length):
                out.append(out[-dist])
        pos = bits.pos
    assert len(out) == total
    return bytes(out)


if __name__ == "__main__":
    try:
        sys.stdout.buffer.write(decode(sys.stdin.buffer.read()))
    except (AssertionError, IndexError, struct.error) as e:
        sys.stderr.write("malformed: %r\n" % (e,))
        sys.exit(1)
