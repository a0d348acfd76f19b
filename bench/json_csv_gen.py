#!/usr/bin/env python3
"""Writes the benchmark documents: DIR/doc.json (about 20 MB: nested objects
and arrays, strings with escapes and non-ASCII, integers, floats, true,
false, null) and DIR/doc.csv (about 20 MB: 10 fields a row, some quoted with
delimiters, quotes and line ends)."""
import csv
import json
import random
import sys

SIZE = 20_000_000
rng = random.Random(7)
WORDS = ["alpha", "beta", "gamma", "d\u00e9j\u00e0 vu", "na\u00efve", "\u65e5\u672c",
         "quote \"q\"", "tab\there", "line\nend", "back\\slash", "emoji \U0001F600", "plain"]


def record(i):
    return {
        "id": i,
        "name": rng.choice(WORDS) + " " + str(rng.randint(0, 99999)),
        "score": round(rng.uniform(-1e4, 1e4), 3),
        "ok": rng.random() < 0.5,
        "none": None,
        "tags": [rng.choice(WORDS) for _ in range(rng.randint(0, 4))],
        "pos": {"x": rng.randint(-1000, 1000), "y": rng.random(), "deep": [[i, -i], {"k": "v"}]},
    }


def json_doc(path):
    items, size, i = [], 0, 0
    while size < SIZE:
        r = record(i)
        size += len(json.dumps(r, ensure_ascii=False).encode("utf-8")) + 1
        items.append(r)
        i += 1
    with open(path, "w", encoding="utf-8") as f:
        json.dump({"count": len(items), "items": items}, f, ensure_ascii=False)


def csv_doc(path):
    with open(path, "w", encoding="utf-8", newline="") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["id", "name", "city", "note", "a", "b", "c", "d", "e", "f"])
        i = 0
        while f.tell() < SIZE:
            w.writerow([i, rng.choice(WORDS), "Paris, France" if i % 3 else "Lyon",
                        'said "hi"' if i % 5 == 0 else "ok", rng.randint(0, 10**6),
                        round(rng.random(), 4), "x" * rng.randint(0, 12), "multi\nline" if i % 7 == 0 else "",
                        str(i * 31 % 977), "end"])
            i += 1


if __name__ == "__main__":
    json_doc(sys.argv[1] + "/doc.json")
    csv_doc(sys.argv[1] + "/doc.csv")
