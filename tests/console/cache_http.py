#!/usr/bin/env python3
"""The download cache over a local HTTP server (the build must have an HTTP
client: the Windows build; elsewhere the check reports itself skipped).

A script and a PNG image are served; read-thru, load-thru and do-thru must
give what the network gave, first from the network and then from the cache
entry, whose file name is hashlib.md5(url).hexdigest().upper() inside the
folder named by its first two digits; the image must come back as an image
from the cache too (not as molded code).

usage: cache_http.py MOX-RUN [EMULATOR...]
"""
import hashlib
import http.server
import os
import struct
import subprocess
import sys
import tempfile
import threading
import zlib


def png(width, height):
    raw = b"".join(b"\0" + b"\x10\x20\x30" * width for _ in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def main():
    command = sys.argv[1:]
    with tempfile.TemporaryDirectory() as root:
        served = os.path.join(root, "served")
        os.makedirs(served)
        with open(os.path.join(served, "s.mox"), "w") as f:
            f.write("40 + 2\n")
        with open(os.path.join(served, "i.png"), "wb") as f:
            f.write(png(3, 2))
        server = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), lambda *a: Handler(*a, directory=served))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        base = "http://127.0.0.1:%d/" % server.server_address[1]
        script = os.path.join(root, "cache.mox")
        with open(script, "w") as f:
            f.write("""
if error? try [read %(base)ss.mox][print "no http client" quit]
u: %(base)ss.mox
i: %(base)si.png
print mold read-thru u
print mold last split-path path-thru u
print mold do-thru u
print mold exists-thru? u
print mold do-thru u
print mold all [image? x: load-thru i x/size]
print mold all [image? x: load-thru i x/size]
print mold do-thru/update u
""" % {"base": base})
        run = subprocess.run(command[1:] + [command[0], script], capture_output=True,
                             timeout=300, cwd=root)
        server.shutdown()
        out = run.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
        if out.startswith("no http client"):
            print("skipped: no HTTP client in this build")
            print("0 passed, 0 failed")
            return 0
        digest = hashlib.md5((base + "s.mox").encode()).hexdigest().upper()
        want = ['"40 + 2^/"', "%" + digest, "42", "true", "42", "3x2", "3x2", "42"]
        got = out.split("\n")[:len(want)]
        failed = 0
        for w, g in zip(want, got + [""] * len(want)):
            if w != g:
                failed += 1
                print("FAIL expected %s got %s" % (w, g))
        if failed:
            print(out)
        print("%d passed, %d failed" % (len(want) - failed, failed))
        return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
