#!/usr/bin/env python3
"""Checks read and write of http URLs against a local Python server.

Usage: http_check.py MOX-RUN [EMULATOR]

A server on 127.0.0.1 (a free port; it stops with this script) records the
method, path, headers and body of every request and sends scripted answers:
text, binary bytes, a 404, a repeated header, a header written without a
space after its colon, and HEAD. A Mox script makes the requests and prints
what it got; both sides are compared here. The native build has no HTTP
client: there every request must fail with no-connect.
"""
import http.server
import os
import socket
import subprocess
import sys
import tempfile
import threading

TEXT = "héllo\r\nworld\n".encode("utf-8")
BINARY = bytes(range(256))
failures = []
requests = []


def check(what, got, expected):
    if got != expected:
        failures.append(f"{what}: expected {expected!r}, got {got!r}")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def record(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        requests.append((self.command, self.path, dict(self.headers.items()), body))

    def answer(self, status, body, extra=()):
        self.send_response(status)
        for line in extra:
            self._headers_buffer.append(line.encode("latin-1") + b"\r\n")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def do_any(self):
        self.record()
        if self.path == "/bin":
            self.answer(200, BINARY)
        elif self.path == "/missing":
            self.answer(404, b"missing")
        elif self.path == "/headers":
            self.answer(200, b"h", ["X-Rep: one", "X-Rep: two", "X-Tight:value", "X-Once: solo"])
        else:
            self.answer(200, TEXT)

    do_GET = do_POST = do_PUT = do_HEAD = do_any


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    mox_run = sys.argv[1]
    emulator = sys.argv[2:] if len(sys.argv) > 2 and sys.argv[2] else []
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = f"http://127.0.0.1:{server.server_address[1]}"
    refused = f"http://127.0.0.1:{free_port()}/"
    script = f"""
probe: func [code] [r: try code print either error! = type? r [append copy "error " r/id] [mold/flat :r]]
probe [read {refused}]
probe [read {base}/text]
probe [read/binary {base}/bin]
probe [read/lines {base}/text]
probe [r: read/info {base}/headers reduce [r/1 select r/2 'X-Rep select r/2 'X-Tight select r/2 'X-Once r/3]]
probe [r: read/info/binary {base}/missing reduce [r/1 r/3]]
probe [write {base}/post "a=1&b=é"]
probe [write {base}/put [put [Accept "text/plain" X-Num 12] #{{0001FF}}]]
probe [r: write/info {base}/text [head] reduce [r/1 r/3]]
probe [write/binary {base}/text [head]]
probe [read/part {base}/text 3]
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
    print("\n".join(out.stdout.decode("utf-8", "replace").splitlines())) if os.environ.get("HTTP_CHECK_VERBOSE") else None
    lines = [l for l in out.stdout.decode("utf-8", "replace").replace("\r", "").split("\n") if l]
    if len(lines) < 11:
        print("mox-run output:", lines, out.stderr.decode("utf-8", "replace")[-2000:])
        return 1
    check("refused port", lines[0], "error no-connect")
    check("read/part", lines[10], "error not-done")
    if not emulator:
        for i in range(1, 10):
            check(f"request {i} without a client", lines[i], "error no-connect")
    else:
        check("text", lines[1], '"héllo^M^/world^/"')
        check("binary", lines[2], "#{" + BINARY.hex().upper() + "}")
        check("lines", lines[3], '["héllo" "world"]')
        check("headers", lines[4], '[200 ["one" "two"] "value" "solo" "h"]')
        check("404", lines[5], '[404 #{6D697373696E67}]')
        check("head", lines[8], '[200 ""]')
        check("head binary", lines[9], "#{}")
        by_path = {}
        for method, p, headers, body in requests:
            by_path.setdefault(p, []).append((method, headers, body))
        method, headers, body = by_path["/post"][0]
        check("post method", method, "POST")
        check("post body", body, "a=1&b=é".encode("utf-8"))
        # Wine's request object appends a charset to a text body's type.
        check("post content type",
              headers.get("Content-Type", "").startswith("application/x-www-form-urlencoded"), True)
        check("post charset", headers.get("Accept-Charset"), "UTF-8")
        check("post agent", headers.get("User-Agent"), "Mozilla/5.0 (Windows NT 6.1; Win64; x64)")
        method, headers, body = by_path["/put"][0]
        check("put method", method, "PUT")
        check("put body", body, b"\x00\x01\xff")
        check("put accept", headers.get("Accept"), "text/plain")
        check("put formed value", headers.get("X-Num"), "12")
        check("put has no default type",
              headers.get("Content-Type") == "application/x-www-form-urlencoded", False)
        check("put has no default charset", "Accept-Charset" in headers, False)
        check("put has no default agent",
              headers.get("User-Agent") == "Mozilla/5.0 (Windows NT 6.1; Win64; x64)", False)
        check("head method", [m for m, _, _ in by_path["/text"]].count("HEAD"), 2)
        check("get sends no body", by_path["/bin"][0][2], b"")
    for f in failures:
        print("FAIL", f)
    print(f"{'ok' if not failures else 'FAILED'}: http against a local server")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
