#!/usr/bin/env python3
"""Answers that nginx will not give on demand, for the transport tests.

Listens on 127.0.0.1 only, with HTTPS (the test certificate) and plain HTTP,
each on a port of its own choosing, and writes both ports to --ports-file.
Python standard library only.

The URL picks the answer: /fault/<scenario>/<tag...>?<parameters>. The tag is
free text; a test puts its own name there so it can find its requests in the
log. Bodies are the pattern byte i = i % 251 (size=N bytes, default 1000), so
any range of them can be checked. The body scenarios honour a single
"Range: bytes=N-M" (or N-, or -N) with a clean 206, or 416 when it starts
beyond the end; the faults apply only to requests without Range, so a test can
recover the rest of a broken body with a Range request. With norange=1 a
body scenario ignores Range as well, and its fault applies to every request.
With rangestatus=N a body scenario answers every Range request with status N
and a short body instead (a 2xx that is not 206, say).

  ok          200 with Content-Length.
  norange     ignores Range: always 200 with the whole body (HEAD as well).
  nolength    no Content-Length: frame=chunked (default) or frame=close.
  long        sends extra=N (default 100) bytes more than its Content-Length,
              then closes.
  short       sends missing=N (default 100) bytes fewer, then closes.
  stall       sends at=N bytes (default half), waits sleep=S seconds
              (default 5, at most 60), then closes without the rest.
  trickle     sends at=N bytes (default 0), then one byte every=MS
              milliseconds (default 50) for at most sleep=S seconds (default
              900), then closes without the rest.
  emptyrange  like ok, but a ranged answer (206) brings no bytes.
  garbage     answers with a status line that has no status, then closes.
  status      answers code=N (default 500) with a short body: 500, 503, 404,
              304 (no body), 407 (with Proxy-Authenticate), 416 (with
              Content-Range: bytes */size), ...
  redirect    code=301|302 (default 302) with Content-Location (no Location)
              pointing at the same URL with hops one lower; hops=0 (default 1)
              answers like ok.
  loop        code=301|302 with Content-Location pointing at itself.
  gzip        a valid gzip body for a request whose Accept-Encoding (or
              Cloud-Accept-Encoding) names gzip, with Content-Encoding (or
              Cloud-Content-Encoding); otherwise like ok.
  badgzip     like gzip, but the compressed body is broken (a gzip header
              followed by an invalid deflate block).

Every request is appended to --log as one line, before it is answered:
"<method> <target>" followed by each header as "<TAB><name>: <value>".

The server stops on SIGTERM or SIGINT, and by itself after --lifetime seconds.
"""
import argparse
import gzip
import http.server
import os
import signal
import ssl
import sys
import threading
import urllib.parse

LAST_MODIFIED = "Mon, 01 Jan 2024 00:00:00 GMT"
MAX_STALL_SECONDS = 60
MAX_TRICKLE_SECONDS = 900
MAX_GZIP_SIZE = 16 * 1024 * 1024
CYCLE = bytes(range(251)) * 64  # whole cycles, so slicing at offset % 251 stays in step
CHUNK = 16 * 1024
BROKEN_GZIP = b"\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03" + b"\xff" * 32  # block type 3 is invalid

stop_event = threading.Event()
log_lock = threading.Lock()


def pattern(offset, count):
    """count bytes of the body pattern, starting at offset."""
    out = bytearray()
    while count > 0:
        start = offset % 251
        take = min(count, len(CYCLE) - start)
        out += CYCLE[start:start + take]
        offset += take
        count -= take
    return bytes(out)


class BadRequest(Exception):
    pass


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 30  # a silent client cannot hold a thread longer

    def log_message(self, fmt, *args):  # the request log below replaces it
        pass

    def do_GET(self):
        self.answer(head=False)

    def do_HEAD(self):
        self.answer(head=True)

    # --- the request --------------------------------------------------------

    def answer(self, head):
        self.record()
        self.close_connection = True  # every answer ends its connection
        url = urllib.parse.urlsplit(self.path)
        parts = url.path.split("/")
        self.params = {k: v[-1] for k, v in urllib.parse.parse_qs(url.query).items()}
        scenario = parts[2] if len(parts) > 2 and parts[1] == "fault" else ""
        action = getattr(self, "scenario_" + scenario, None)
        try:
            if action is None:
                self.short_answer(head, 404)
            else:
                action(head)
        except BadRequest as e:
            self.short_answer(head, 400, str(e))
        except (OSError, ssl.SSLError):
            pass  # the client went away

    def record(self):
        def clean(text):
            return text.replace("\t", " ").replace("\r", " ").replace("\n", " ")
        line = clean(f"{self.command} {self.path}")
        for name, value in self.headers.items():
            line += "\t" + clean(f"{name}: {value}")
        with log_lock, open(self.server.request_log, "a", encoding="utf-8") as f:
            f.write(line + "\n")

    def number(self, name, default):
        try:
            return int(self.params.get(name, default))
        except ValueError:
            raise BadRequest(f"{name} must be a number")

    def requested_range(self, size):
        """(start, end) inclusive, None for no usable Range, or 'unsatisfiable'."""
        value = self.headers.get("Range", "").strip()
        if not value.startswith("bytes=") or "," in value:
            return None
        first, _, last = value[6:].partition("-")
        try:
            if first == "":
                count = int(last)
                return (max(size - count, 0), size - 1) if count > 0 and size > 0 else "unsatisfiable"
            start = int(first)
            end = int(last) if last else size - 1
        except ValueError:
            return None
        if start >= size or end < start:
            return "unsatisfiable"
        return start, min(end, size - 1)

    def accepted_gzip(self):
        """The Content-Encoding header name to answer with, or None."""
        for asked, answered in (("Accept-Encoding", "Content-Encoding"),
                                ("Cloud-Accept-Encoding", "Cloud-Content-Encoding")):
            if "gzip" in self.headers.get(asked, "").lower():
                return answered
        return None

    # --- answers ------------------------------------------------------------

    def short_answer(self, head, code, text=None, headers=()):
        body = b"" if code == 304 else (text or f"status {code}").encode() + b"\n"
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        if code != 304:
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if not head:
            self.wfile.write(body)

    def body_answer(self, head, fault=None, honour_range=True, framing="length"):
        size = self.number("size", 1000)
        if size < 0:
            raise BadRequest("size must not be negative")
        honour_range = honour_range and self.number("norange", 0) == 0
        ranged = self.requested_range(size) if honour_range else None
        if ranged == "unsatisfiable":
            self.short_answer(head, 416, headers=[("Content-Range", f"bytes */{size}")])
            return
        if ranged and "rangestatus" in self.params:
            self.short_answer(head, self.number("rangestatus", 500))
            return
        start, end = ranged if ranged else (0, size - 1)
        length = end - start + 1
        # How much of the body goes out, and whether to stall after it.
        count, stall = length, 0
        if not ranged and fault == "long":
            count = length + self.number("extra", 100)
        elif not ranged and fault == "short":
            count = max(length - self.number("missing", 100), 0)
        elif not ranged and fault == "stall":
            count = min(max(self.number("at", length // 2), 0), length)
            stall = min(max(self.number("sleep", 5), 0), MAX_STALL_SECONDS)
        elif not ranged and fault == "trickle":
            count = min(max(self.number("at", 0), 0), length)
        elif ranged and fault == "emptyrange":
            count = 0
        self.send_response(206 if ranged else 200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Last-Modified", LAST_MODIFIED)
        if honour_range:
            self.send_header("Accept-Ranges", "bytes")
        if ranged:
            self.send_header("Content-Range", f"bytes {start}-{end}/{size}")
        if framing == "length":
            self.send_header("Content-Length", str(0 if ranged and fault == "emptyrange" else length))
        elif framing == "chunked":
            self.send_header("Transfer-Encoding", "chunked")
        self.send_header("Connection", "close")
        self.end_headers()
        if head:
            return
        self.send_pattern(start, count, framing, end_chunks=not stall)
        if stall:
            self.wfile.flush()
            stop_event.wait(stall)
        if not ranged and fault == "trickle":
            self.trickle(start + count, length - count)

    def trickle(self, offset, left):
        every = max(self.number("every", 50), 1) / 1000.0
        deadline = min(max(self.number("sleep", MAX_TRICKLE_SECONDS), 0), MAX_TRICKLE_SECONDS)
        waited = 0.0
        while left > 0 and waited < deadline and not stop_event.is_set():
            self.wfile.write(pattern(offset, 1))
            self.wfile.flush()
            offset += 1
            left -= 1
            stop_event.wait(every)
            waited += every

    def send_pattern(self, offset, count, framing, end_chunks=True):
        while count > 0:
            piece = pattern(offset, min(count, CHUNK))
            if framing == "chunked":
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            else:
                self.wfile.write(piece)
            offset += len(piece)
            count -= len(piece)
        if framing == "chunked" and end_chunks:
            self.wfile.write(b"0\r\n\r\n")

    def redirect(self, head, target):
        code = self.number("code", 302)
        if code not in (301, 302):
            raise BadRequest("code must be 301 or 302")
        port = self.server.server_address[1]
        location = f"{self.server.scheme}://127.0.0.1:{port}{target}"
        self.short_answer(head, code, f"see {location}", headers=[("Content-Location", location)])

    def gzip_answer(self, head, broken):
        encoding = self.accepted_gzip()
        if encoding is None:
            self.body_answer(head)
            return
        size = self.number("size", 1000)
        if not 0 <= size <= MAX_GZIP_SIZE:
            raise BadRequest(f"size must be 0 to {MAX_GZIP_SIZE} for gzip")
        body = BROKEN_GZIP if broken else gzip.compress(pattern(0, size))
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header(encoding, "gzip")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if not head:
            self.wfile.write(body)

    # --- scenarios ----------------------------------------------------------

    def scenario_ok(self, head):
        self.body_answer(head)

    def scenario_norange(self, head):
        self.body_answer(head, honour_range=False)

    def scenario_nolength(self, head):
        framing = self.params.get("frame", "chunked")
        if framing not in ("chunked", "close"):
            raise BadRequest("frame must be chunked or close")
        self.body_answer(head, framing=framing)

    def scenario_long(self, head):
        self.body_answer(head, fault="long")

    def scenario_short(self, head):
        self.body_answer(head, fault="short")

    def scenario_stall(self, head):
        self.body_answer(head, fault="stall")

    def scenario_trickle(self, head):
        self.body_answer(head, fault="trickle")

    def scenario_emptyrange(self, head):
        self.body_answer(head, fault="emptyrange")

    def scenario_garbage(self, head):
        self.wfile.write(b"HTTP/1.1 garbage\r\nContent-Length: 0\r\n\r\n")

    def scenario_status(self, head):
        code = self.number("code", 500)
        if not 200 <= code <= 599:
            raise BadRequest("code must be 200 to 599")
        headers = []
        if code == 407:
            headers.append(("Proxy-Authenticate", 'Basic realm="tests"'))
        if code == 416:
            headers.append(("Content-Range", f"bytes */{self.number('size', 1000)}"))
        self.short_answer(head, code, headers=headers)

    def scenario_redirect(self, head):
        hops = self.number("hops", 1)
        if hops <= 0:
            self.body_answer(head)
            return
        url = urllib.parse.urlsplit(self.path)
        query = dict(self.params, hops=str(hops - 1))
        self.redirect(head, f"{url.path}?{urllib.parse.urlencode(query)}")

    def scenario_loop(self, head):
        self.redirect(head, self.path)

    def scenario_gzip(self, head):
        self.gzip_answer(head, broken=False)

    def scenario_badgzip(self, head):
        self.gzip_answer(head, broken=True)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, scheme, context, request_log):
        super().__init__(("127.0.0.1", 0), Handler)
        self.scheme = scheme
        self.request_log = request_log
        if context:
            # The handshake runs in the connection's own thread (see
            # finish_request), so a client that never speaks TLS blocks no one.
            self.socket = context.wrap_socket(self.socket, server_side=True, do_handshake_on_connect=False)

    def finish_request(self, request, client_address):
        request.settimeout(Handler.timeout)
        if isinstance(request, ssl.SSLSocket):
            request.do_handshake()
        super().finish_request(request, client_address)

    def shutdown_request(self, request):
        # A TLS close_notify first, so a body that ends with the connection
        # ends cleanly rather than as a broken TLS stream.
        if isinstance(request, ssl.SSLSocket):
            try:
                request.settimeout(1)
                request = request.unwrap()
            except (OSError, ValueError):
                pass
        super().shutdown_request(request)

    def handle_error(self, request, client_address):
        error = sys.exc_info()[1]
        print(f"fault_server: connection from {client_address}: {error!r}", file=sys.stderr, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--log", required=True, help="request log, appended to")
    parser.add_argument("--ports-file", required=True)
    parser.add_argument("--lifetime", type=float, default=3600, help="seconds until it stops by itself")
    args = parser.parse_args()

    for number in (signal.SIGTERM, signal.SIGINT):
        signal.signal(number, lambda *_: stop_event.set())

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(args.cert, args.key)
    servers = [Server("https", context, args.log), Server("http", None, args.log)]
    for server in servers:
        threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True).start()

    temporary = args.ports_file + ".tmp"
    with open(temporary, "w", encoding="utf-8") as f:
        f.write(f"fault_https_port={servers[0].server_address[1]}\n")
        f.write(f"fault_http_port={servers[1].server_address[1]}\n")
    os.replace(temporary, args.ports_file)

    stop_event.wait(args.lifetime)
    stop_event.set()  # ends stalls that are still waiting
    for server in servers:
        server.shutdown()
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
