#!/usr/bin/env python3
"""Oracle vectors for the checksum tests, from Python's zlib, hashlib and hmac.

Writes into the folder given as argument: NAME.bin for each input and
checksums.txt, one line per input:
    NAME crc32 adler32 tcp md5 sha1 sha256 sha384 sha512
and one line per (input, key) pair:
    hmac NAME KEYNAME md5 sha1 sha256 sha384 sha512
(keys are written as key-KEYNAME.bin). Numbers are decimal, digests hex.
"""
import hashlib, hmac, os, random, sys, zlib

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
rng = random.Random(1950)

inputs = {
    "empty": b"",
    "abc": b"abc",
    "digits": b"123456789",
    "odd": b"\x01\x02\x03",
    "fox": b"The quick brown fox jumps over the lazy dog",
    "block55": b"a" * 55,    # digest padding edges
    "block56": b"a" * 56,
    "block64": b"a" * 64,
    "block111": b"b" * 111,
    "block112": b"b" * 112,
    "block128": b"b" * 128,
    "ff": b"\xff" * 100001,  # the largest per-byte sums
    "random": bytes(rng.getrandbits(8) for _ in range(70001)),
    "big": bytes(rng.getrandbits(8) for _ in range(300000)) * 4,
}
keys = {
    "empty": b"",
    "short": b"key",
    "b64": bytes(range(64)),
    "b65": bytes(range(65)),
    "b128": bytes(range(128)),
    "b129": bytes(range(129)),
}


def tcp(data):
    s = 0
    for i in range(0, len(data) - 1, 2):
        s += data[i] << 8 | data[i + 1]
    if len(data) % 2:
        s += data[-1]
    while s >> 16:
        s = (s >> 16) + (s & 0xFFFF)
    return ~s & 0xFFFF


methods = ["md5", "sha1", "sha256", "sha384", "sha512"]
lines = []
for name, data in inputs.items():
    with open(os.path.join(out, name + ".bin"), "wb") as f:
        f.write(data)
    digests = [hashlib.new(m, data).hexdigest() for m in methods]
    lines.append(" ".join([name, str(zlib.crc32(data)), str(zlib.adler32(data)), str(tcp(data))] + digests))
for kname, key in keys.items():
    with open(os.path.join(out, "key-" + kname + ".bin"), "wb") as f:
        f.write(key)
for name in ["empty", "abc", "fox", "block128", "random"]:
    for kname, key in keys.items():
        macs = [hmac.new(key, inputs[name], m).hexdigest() for m in methods]
        lines.append(" ".join(["hmac", name, kname] + macs))
with open(os.path.join(out, "checksums.txt"), "w") as f:
    f.write("\n".join(lines) + "\n")
