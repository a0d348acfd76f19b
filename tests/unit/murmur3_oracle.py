#!/usr/bin/env python3
"""An independent MurmurHash3 x86 32-bit for the hash-table tests.

Prints one line per case: the seed, the input bytes in hexadecimal ("-" for
none) and the hash, all separated by blanks. The cases are a fixed
pseudo-random set of lengths 0 to 40 (every tail length) with varied seeds.
"""
import random


def rotl(x, r):
    return ((x << r) | (x >> (32 - r))) & 0xFFFFFFFF


def fmix(h):
    h ^= h >> 16
    h = (h * 0x85EBCA6B) & 0xFFFFFFFF
    h ^= h >> 13
    h = (h * 0xC2B2AE35) & 0xFFFFFFFF
    h ^= h >> 16
    return h


def murmur3_32(data, seed):
    c1, c2 = 0xCC9E2D51, 0x1B873593
    h = seed & 0xFFFFFFFF
    n = len(data) // 4
    for i in range(n):
        k = int.from_bytes(data[4 * i:4 * i + 4], "little")
        k = (k * c1) & 0xFFFFFFFF
        k = rotl(k, 15)
        k = (k * c2) & 0xFFFFFFFF
        h ^= k
        h = rotl(h, 13)
        h = (h * 5 + 0xE6546B64) & 0xFFFFFFFF
    tail = data[4 * n:]
    k = 0
    for i, b in enumerate(tail):
        k |= b << (8 * i)
    if tail:
        k = (k * c1) & 0xFFFFFFFF
        k = rotl(k, 15)
        k = (k * c2) & 0xFFFFFFFF
        h ^= k
    h ^= len(data)
    return fmix(h)


def main():
    rng = random.Random(20261209)
    for length in range(41):
        for _ in range(3):
            data = bytes(rng.randrange(256) for _ in range(length))
            seed = rng.choice([0, 1, 0x9747B28C, 0xFFFFFFFF, rng.randrange(1 << 32)])
            print(f"{seed:08x} {data.hex() or '-'} {murmur3_32(data, seed):08x}")


if __name__ == "__main__":
    main()
