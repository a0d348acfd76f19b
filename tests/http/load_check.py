#!/usr/bin/env python3
"""Checks load of http URLs against a local Python server.

Usage: load_check.py MOX-RUN [EMULATOR]

The server answers with Mox code as text/plain, with a body whose
Content-Type names a MIME type of a codec the script registers, with a 404
and a 500. load must lex the code, hand the second body to the first codec
whose MIME type occurs in the Content-Type header, and answer none for a
status other than 200; load/as reads the URL as bytes and decodes them with
the named codec. The native build has no HTTP client: every load must fail
with no-connect there.
"""
import http.server
import os
import subprocess
import sys
import tempfile
import threading

ROUTES = {
    "/code": (200, "text/plain", "1 [2 3] \"é\"".encode("utf-8")),
    "/one": (200, "text/plain; charset=utf-8", b"7"),
    "/lc": (200, "text/x-lc; charset=utf-8", b"zz"),
    "/second": (200, "application/x-lc-second", b"yy"),
    "/missing": (404, "text/plain", b"1 2"),
    "/broken": (500, "text/plain", b"1 2"),
}


saved = []


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        saved.append(self.rfile.read(length))
        self.send_response(200)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_GET(self):
        status, kind, body = ROUTES.get(self.path, (404, "text/plain", b""))
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def main():
    mox_run = sys.argv[1]
    emulator = sys.argv[2:] if len(sys.argv) > 2 and sys.argv[2] else []
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = f"http://127.0.0.1:{server.server_address[1]}"
    # Two codecs share a MIME type: the one registered first must win.
    script = f"""
probe: func [code] [r: try code print either error! = type? r [append copy "error " r/id] [mold/flat :r]]
put system/codecs 'lc-first make object! [
    title: "" name: 'LC1 mime-type: [text/x-lc] suffixes: []
    encode: none decode: func [d] [reduce ['first to string! d]]
]
put system/codecs 'lc-second make object! [
    Title: "" Name: 'LC2 Mime-Type: [text/x-lc application/x-lc-second] Suffixes: []
    encode: none decode: func [d] [reduce ['second to string! d]]
]
probe [load {base}/code]
probe [load {base}/one]
probe [load {base}/lc]
probe [load {base}/second]
probe [load {base}/missing]
probe [load {base}/broken]
probe [load/as {base}/code 'lc-second]
probe [load/all {base}/one]
probe [save {base}/save [1 "é" [a]] true]
"""
    fd, path = tempfile.mkstemp(suffix=".mox")
    with os.fdopen(fd, "w", encoding="utf-8") as f:
        f.write(script)
    try:
        run_path = ("Z:" + path.replace("/", "\\")) if emulator else path
        out = subprocess.run(emulator + [mox_run, run_path], capture_output=True, timeout=120)
    finally:
        os.unlink(path)
        server.shutdown()
    lines = [l for l in out.stdout.decode("utf-8", "replace").replace("\r", "").split("\n") if l]
    if emulator:
        expected = [
            '[1 [2 3] "é"]',
            "7",
            '[first "zz"]',
            '[second "yy"]',
            "none",
            "none",
            '[second {1 [2 3] "é"}]',
            "[7]",
            "true",
        ]
    else:
        expected = ["error no-connect"] * 9
    failures = [
        f"line {i + 1}: expected {e!r}, got {g!r}"
        for i, (e, g) in enumerate(zip(expected, lines + [None] * len(expected)))
        if e != g
    ]
    if emulator and saved != ['1 "é" [a]'.encode("utf-8")]:
        failures.append(f"saved body: {saved!r}")
    if failures:
        print("\n".join(failures))
        print("mox-run output:", lines, out.stderr.decode("utf-8", "replace")[-2000:])
        return 1
    print(f"{len(expected)} requests as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
