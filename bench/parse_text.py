"""Writes the benchmark text of bench/run-parse.sh: lines of 4 to 12
comma-separated fields, each an identifier, a number or a quoted string,
about SIZE bytes in all (the same text for the same size).
Usage: python3 parse_text.py FILE [size]"""
import random
import sys

rng = random.Random(20261210)
LETTERS = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_'
DIGITS = '0123456789'


def field():
    kind = rng.randrange(3)
    if kind == 0:
        return rng.choice(LETTERS) + ''.join(rng.choice(LETTERS + DIGITS) for _ in range(rng.randrange(2, 10)))
    if kind == 1:
        return ''.join(rng.choice(DIGITS) for _ in range(rng.randrange(1, 8)))
    words = (''.join(rng.choice(LETTERS) for _ in range(rng.randrange(1, 8))) for _ in range(rng.randrange(1, 4)))
    return '"' + ' '.join(words) + '"'


def main():
    size = int(sys.argv[2]) if len(sys.argv) > 2 else 10 * 1024 * 1024
    lines, total = [], 0
    while total < size:
        line = ','.join(field() for _ in range(rng.randrange(4, 13))) + '\n'
        lines.append(line)
        total += len(line)
    with open(sys.argv[1], 'w', encoding='utf-8', newline='') as out:
        out.write(''.join(lines))


main()
