#!/usr/bin/env python3
"""Oracle vectors for the number-text conversions, from Python's own
correctly rounded repr(float), '%.*e' formatting and float(str).

Usage: gen_vectors.py OUTDIR [COUNT]

Writes into OUTDIR COUNT random cases (default 1,000,000; a fifth of that
for fixed.txt) plus the hard cases:
  shortest.txt  bits digits point     shortest round-trip digits of the double
  fixed.txt     bits n digits point   the double rounded to n significant digits
  parse.txt     text adjust bits      the double nearest text * 10^adjust
  complete      written last, once the others are whole
bits are 16 hex digits; digits carry no trailing zeros; point is the
position of the decimal point (the exponent of the first digit plus one).
The random streams are seeded, so the files are the same on every run.
"""

import os
import random
import struct
import sys
from decimal import Decimal, getcontext

getcontext().prec = 2000
getcontext().Emax = 100000
getcontext().Emin = -100000


def bits_of(x):
    return struct.unpack('<Q', struct.pack('<d', x))[0]


def double_of(b):
    return struct.unpack('<d', struct.pack('<Q', b))[0]


def finite_positive(b):
    return 0 < b < 0x7FF0000000000000


def digits_point(mantissa_digits, exponent):
    """Digits without trailing zeros and the point of int(digits) * 10^exponent."""
    d = mantissa_digits.rstrip('0')
    exponent += len(mantissa_digits) - len(d)
    return d, exponent + len(d)


def shortest(x):
    t = Decimal(repr(x)).as_tuple()
    return digits_point(''.join(map(str, t.digits)), t.exponent)


def fixed(x, n):
    text = '%.*e' % (n - 1, x)
    mant, exp = text.split('e')
    mant = mant.replace('.', '')
    d, _ = digits_point(mant, 0)
    return d, int(exp) + 1


def hard_doubles():
    """Doubles where shortest and fixed digits are easy to get wrong."""
    out = set()
    for e in range(1, 2047):  # every power of two and its neighbours
        base = e << 52
        out.update({base, base + 1, base - 1, base | 0xFFFFFFFFFFFFF})
    for c in range(1, 200):  # the smallest subnormals
        out.add(c)
    out.update({0x000FFFFFFFFFFFFF, 0x0010000000000000, 0x7FEFFFFFFFFFFFFF})
    for k in range(-323, 309):  # powers of ten and their neighbours
        try:
            b = bits_of(float('1e%d' % k))
        except OverflowError:
            continue
        if finite_positive(b):
            out.update({b, b + 1, b - 1})
    for k in range(0, 64):  # integers around 2^53 and other powers of two
        out.add(bits_of(float(2 ** 53 + k - 32)))
    for v in (0.1, 0.2, 0.3, 1 / 3, 2 / 3, 123456789012345680000.0, 9007199254740993.0,
              5e-324, 1e23, 8.41e21, 5.0e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
              9.5, 0.5, 2.5, 1e16, 1e17, 1e19, 1e-7, 1e-8):
        out.add(bits_of(v))
    return sorted(b for b in out if finite_positive(b))


def write_shortest(path, rng, count):
    with open(path, 'w') as f:
        values = hard_doubles()
        for _ in range(count):
            r = rng.random()
            if r < 0.7:  # any bit pattern
                b = rng.getrandbits(63)
            elif r < 0.85:  # short decimals, the common case in programs
                b = bits_of(float('%de%d' % (rng.randrange(1, 10 ** rng.randrange(1, 8)),
                                             rng.randrange(-20, 20))))
            else:  # subnormals
                b = rng.getrandbits(rng.randrange(1, 53))
            values.append(b)
        for b in values:
            if not finite_positive(b):
                continue
            d, p = shortest(double_of(b))
            f.write('%016x %s %d\n' % (b, d, p))


def write_fixed(path, rng, count):
    with open(path, 'w') as f:
        rows = [(b, n) for b in hard_doubles() for n in (1, 2, 6, 15, 16, 17, 22)]
        for _ in range(count):
            r = rng.random()
            if r < 0.5:
                b = rng.getrandbits(63)
            elif r < 0.7:  # integers and short decimals (ties live here)
                b = bits_of(float('%de%d' % (rng.randrange(1, 10 ** rng.randrange(1, 17)),
                                             rng.randrange(-8, 8))))
            elif r < 0.8:
                b = rng.getrandbits(rng.randrange(1, 53))
            else:  # dyadic values with exact decimal ties
                b = bits_of(rng.randrange(1, 2 ** 20) / 2 ** rng.randrange(0, 12))
            rows.append((b, rng.choice((1, 2, 3, 5, 6, 8, 10, 12, 14, 15, 16, 17, 18, 20, 22, 25,
                                        30))))
        for b, n in rows:
            if not finite_positive(b):
                continue
            d, p = fixed(double_of(b), n)
            f.write('%016x %d %s %d\n' % (b, n, d, p))


def exact_text(d):
    """A plain decimal text of the Decimal d, with every digit."""
    return format(d, 'f')


def scientific_text(d):
    """The Decimal d in exponent form, with every digit."""
    return format(d, '.%de' % (len(d.normalize().as_tuple().digits) - 1))


def midpoint_texts(rng, count):
    """Exact midpoints between neighbouring doubles, and decimals a hair to
    either side of them: the reads that need exact arithmetic."""
    texts = []
    seeds = [rng.getrandbits(63) for _ in range(count)]
    seeds += [(e << 52) for e in range(1, 2047, 7)] + list(range(1, 40))
    seeds += [0x7FEFFFFFFFFFFFFF, 0x000FFFFFFFFFFFFF, 0x0010000000000000]
    for b in seeds:
        if not finite_positive(b):
            continue
        lo = Decimal(double_of(b))
        nb = b + 1
        hi = Decimal(double_of(nb)) if nb < 0x7FF0000000000000 else Decimal(2) ** 1024
        mid = (lo + hi) / 2
        hair = Decimal(10) ** (mid.adjusted() - 790)
        for v in (mid, mid + hair, mid - hair):
            texts.append(exact_text(v) if rng.random() < 0.5 else scientific_text(v))
    return texts


def random_text(rng):
    """A decimal as programs and the lexer write them."""
    ndig = rng.choice((1, 2, 3, 5, 8, 12, 15, 16, 17, 18, 19, 20, 25, 40))
    if rng.random() < 0.01:
        ndig = rng.randrange(40, 1200)
    digits = str(rng.randrange(10 ** ndig)).zfill(ndig)
    if rng.random() < 0.2:
        digits = '0' * rng.randrange(1, 5) + digits
    if rng.random() < 0.2:
        digits = digits + '0' * rng.randrange(1, 30)
    r = rng.random()
    if r < 0.6:
        cut = rng.randrange(0, len(digits) + 1)
        text = digits[:cut] + '.' + digits[cut:]
    else:
        text = digits
    if rng.random() < 0.6:
        text += rng.choice('eE') + rng.choice(('', '+', '-')) + str(rng.randrange(0, 340))
    return rng.choice(('', '', '', '-', '+')) + text


def oracle(text, adjust):
    mant, exp = text, 0
    for sep in 'eE':
        if sep in text:
            mant, e = text.split(sep)
            exp = int(e)
    return float('%se%d' % (mant, exp + adjust))


def write_parse(path, rng, count):
    texts = ['9007199254740993', '9007199254740992.9999999999999999999', '0.1', '.5', '5.', '+1',
             '-0', '-0.0', '0.000', '000123.4500', '1e-400', '1e400', '-1e400',
             '2.4703282292062327e-324', '2.4703282292062328e-324', '4.9406564584124654e-324',
             '2.2250738585072011e-308', '2.2250738585072014e-308', '1.7976931348623157e308',
             '1.7976931348623158e308', '1.7976931348623159e308', '179769313486231580793728971'
             '405303415079934132710037826936173778980444968292764750946649017977587207096330286'
             '416692887910946555547851940402630657488671505820681908902000708383676273854845817'
             '711531764475730270069855571366959622842914819860834936475292719074168444365510704'
             '3424', '1e23', '8.41e21', '1' * 400, '0.' + '0' * 330 + '1', '123456789012345678901234567890']
    texts += midpoint_texts(rng, max(count // 200, 10))
    texts += [random_text(rng) for _ in range(count)]
    with open(path, 'w') as f:
        for text in texts:
            adjust = 0 if rng.random() < 0.9 else rng.choice((-2, -1, 1, 2, 5, -300, 300))
            x = oracle(text, adjust)
            f.write('%s %d %016x\n' % (text, adjust, bits_of(x)))


def main():
    outdir = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    os.makedirs(outdir, exist_ok=True)
    write_shortest(os.path.join(outdir, 'shortest.txt'), random.Random(1), count)
    write_fixed(os.path.join(outdir, 'fixed.txt'), random.Random(2), count // 5)
    write_parse(os.path.join(outdir, 'parse.txt'), random.Random(3), count)
    open(os.path.join(outdir, 'complete'), 'w').close()


if __name__ == '__main__':
    main()
