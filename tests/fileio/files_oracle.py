#!/usr/bin/env python3
"""Checks file services of mox-run against Python's view of the same files.

Usage: files_oracle.py MOX-RUN [EMULATOR]

Python makes the fixtures in a fresh temporary folder, a Mox script reads,
queries, lists and writes them, and Python compares what the script printed
and wrote with os.stat, os.listdir, hashlib and the exact bytes. With an
emulator (Wine) the folder is reached through the Z: drive.
"""
import datetime
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
failures = []


def check(what, got, expected):
    if got != expected:
        failures.append(f"{what}: expected {expected!r}, got {got!r}")


def mox_path(path, wine):
    return "%/Z" + path if wine else "%" + path


def parse_date(text):
    m = re.fullmatch(r"(\d+)-(\w+)-(\d+)/(\d+):(\d+):(\d+(?:\.\d+)?)", text)
    if not m:
        return None
    day, month, year, hour, minute, second = m.groups()
    sec = float(second)
    base = datetime.datetime(int(year), MONTHS.index(month) + 1, int(day), int(hour), int(minute),
                             tzinfo=datetime.timezone.utc)
    return base.timestamp() + sec


def files_of(mold):
    return [a if a else b for a, b in re.findall(r'%"([^"]*)"|%([^\s\[\]]+)', mold)]


def main():
    mox_run = sys.argv[1]
    emulator = sys.argv[2:] if len(sys.argv) > 2 and sys.argv[2] else []
    wine = bool(emulator)
    root = tempfile.mkdtemp(prefix="mox-files-")
    try:
        d = os.path.join(root, "d")
        os.mkdir(d)
        os.mkdir(os.path.join(d, "sub dir"))
        data = bytes(range(256)) + os.urandom(300000)
        with open(os.path.join(d, "bytes.bin"), "wb") as f:
            f.write(data)
        text = "\ufeffline one\r\nzwei é\r\n\u4e2d\U0001F600\n".encode("utf-8")
        with open(os.path.join(d, "text.txt"), "wb") as f:
            f.write(text)
        with open(os.path.join(d, "a b.txt"), "wb") as f:
            f.write(b"x")
        os.utime(os.path.join(d, "a b.txt"), (1500000000.25, 1500000000.25))
        big = os.path.join(root, "big.bin")
        subprocess.run(["truncate", "-s", "5G", big], check=True)
        with open(big, "r+b") as f:
            f.seek(5 * 2**30 - 3)
            f.write(b"end")
        proc = "/proc/self/status"

        expected = sorted(n + "/" if os.path.isdir(os.path.join(d, n)) else n for n in os.listdir(d))
        P = lambda p: mox_path(p, wine)
        script = f"""
probe: func [code] [r: try code print either error! = type? r [append copy "error " r/id] [mold :r]]
probe [size? {P(d)}/bytes.bin]
probe [checksum read/binary {P(d)}/bytes.bin 'md5]
probe [query {P(d)}/bytes.bin]
probe [query %"{("/Z" if wine else "") + d}/a b.txt"]
probe [query {P(d)}/sub%20dir/]
probe [read {P(d)}/]
probe [read {P(d)}/text.txt]
probe [write/binary {P(d)}/copy.bin read/binary {P(d)}/bytes.bin true]
probe [write {P(d)}/out.txt read {P(d)}/text.txt true]
probe [size? {P(big)}]
probe [read/binary {P(big)}]
probe [read/binary/seek {P(big)} 5368709117]
probe [read/binary/part {P(big)} 4]
probe [copy/part read {P(proc)} 5]
probe [0 < length? read/lines {P(proc)}]
probe [read %/]
probe [write {P("/dev/full")} "x"]
probe [read/seek/part {P(proc)} 1 4]
"""
        script_path = os.path.join(root, "probe.mox")
        with open(script_path, "w", encoding="utf-8") as f:
            f.write(script)
        run_path = ("Z:" + script_path.replace("/", "\\")) if wine else script_path
        out = subprocess.run(emulator + [mox_run, run_path], capture_output=True, timeout=120)
        lines = out.stdout.decode("utf-8", "replace").replace("\r", "").split("\n")
        lines = [l for l in lines if l]
        if len(lines) < 18:
            print("mox-run output:", lines, out.stderr.decode("utf-8", "replace")[-2000:])
            return 1
        check("size?", lines[0], str(len(data)))
        check("md5", lines[1], "#{" + hashlib.md5(data).hexdigest().upper() + "}")
        for i, name in ((2, "bytes.bin"), (3, "a b.txt"), (4, "sub dir")):
            stamp = parse_date(lines[i])
            mtime = os.stat(os.path.join(d, name)).st_mtime
            if stamp is None or abs(stamp - mtime) > 0.002:
                failures.append(f"query {name}: {lines[i]} against mtime {mtime}")
        listed = sorted(files_of(lines[5]))
        check("listing", listed, expected)
        check("text read", lines[6], '{line one^M^/zwei é^M^/中😀^/}')
        with open(os.path.join(d, "copy.bin"), "rb") as f:
            check("binary copy", f.read() == data, True)
        with open(os.path.join(d, "out.txt"), "rb") as f:
            check("text write", f.read(), text[3:].replace(b"\n", b"\r\n"))
        check("sparse size?", lines[9], str(5 * 2**30) + ".0")
        check("sparse read", lines[10], "error too-long")
        check("sparse seek", lines[11], "#{656E64}")
        check("sparse part", lines[12], "#{00000000}")
        check("size-0 file", lines[13], '"Name:"')
        check("size-0 lines", lines[14], "true")
        roots = files_of(lines[15])
        if wine:
            for drive in ("C:/", "Z:/"):
                if drive not in roots and drive.lower() not in roots:
                    failures.append(f"drives: {drive} missing from {lines[15]}")
        else:
            check("roots", roots, ["/"])
        # A device that takes no bytes: the failed write is an error.
        check("failed write", lines[16], "error no-create")
        check("size-0 file, seek and part", lines[17], '"ame:"')
    finally:
        shutil.rmtree(root, ignore_errors=True)
    for f in failures:
        print("FAIL", f)
    print(f"{'ok' if not failures else 'FAILED'}: files against Python")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
