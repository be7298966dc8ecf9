#!/usr/bin/python3
"""An HTTP server for tests that misbehaves on request.

Starts on a loopback address, prints the port it listens on as one line on
stdout, then serves until it is killed (or, with --watch-stdin, until its
standard input is closed, so that it never outlives a crashed test).

    http_server.py --root DIR [--log FILE] [--host 127.0.0.1] [--port 0]
                   [--tls-cert PEM --tls-key PEM] [--hold-limit SECONDS]
                   [--watch-stdin]

Every request is appended to --log as one JSON object per line:
    {"time", "client", "method", "target", "path", "query", "version",
     "headers": [[name, value], ...]}
Header lines are kept in the order and spelling they arrived in; bytes are
decoded as Latin-1, so each character stands for one byte.

Paths:
    /<file>                  a file under --root (query ignored); 404 if none
    /_/gen/<size>            <size> bytes of the pattern byte[i] = i % 251
    /_/file/<file>           a file under --root, as a body the options shape
    /_/status/<code>         that status with a short text body
    /_/redirect/<n>?to=URL   a chain of n redirects (302, or code=3xx) ending
                             in a redirect to URL
    /_/loop                  redirects to itself forever
    /_/hang                  reads the request and never answers

Options of /_/gen and /_/file, in the query:
    framing=length|none|chunked  Content-Length (default), none with the end
                                 of the body marked by closing, or chunked
    chunk=N          bytes per write and per chunk (default 65536)
    cut=N            stop the body after N bytes, then do `after`
    after=close|reset|stall      close (default), reset the connection (RST),
                                 or keep it open without sending
    gzip=1           gzip the body and say Content-Encoding: gzip
    encoding=NAME    send Content-Encoding: NAME, the body as it is
    status=N         the status code (default 200)
    type=MIME        Content-Type (default application/octet-stream)
    rate=N           send at most N bytes per second (pieces of at most
                     N/10 bytes, so a slow body still arrives in steps)

A stalled or hanging connection is held until the client goes away or
--hold-limit seconds (default 60) have passed.
"""

import argparse
import gzip
import json
import os
import select
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time
import urllib.parse

REASONS = {
    200: "OK", 204: "No Content", 301: "Moved Permanently", 302: "Found",
    303: "See Other", 307: "Temporary Redirect", 308: "Permanent Redirect",
    400: "Bad Request", 403: "Forbidden", 404: "Not Found",
    500: "Internal Server Error", 503: "Service Unavailable",
}
MAX_HEADER_LINES = 200


def pattern(size):
    block = bytes(i % 251 for i in range(251))
    whole, rest = divmod(size, 251)
    return block * whole + block[:rest]


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, options):
        self.options = options
        self.log_lock = threading.Lock()
        self.log_file = open(options.log, "a", encoding="utf-8") if options.log else None
        self.tls = None
        if options.tls_cert:
            self.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.tls.load_cert_chain(options.tls_cert, options.tls_key)
        super().__init__(address, Handler)

    def record(self, entry):
        if self.log_file is None:
            return
        with self.log_lock:
            self.log_file.write(json.dumps(entry, ensure_ascii=False) + "\n")
            self.log_file.flush()


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        sock = self.request
        if self.server.tls is not None:
            try:
                sock = self.server.tls.wrap_socket(sock, server_side=True)
            except (ssl.SSLError, OSError):
                return  # a client that refused our certificate
        self.sock = sock
        self.reader = sock.makefile("rb")
        try:
            request = self.read_request()
            if request is None:
                return
            self.server.record(request)
            self.route(request)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
            pass  # the client went away; nothing to answer
        finally:
            try:
                self.reader.close()
            except OSError:
                pass

    # -- the request ------------------------------------------------------

    def read_request(self):
        line = self.reader.readline(65537)
        if not line:
            return None
        parts = line.decode("latin-1").rstrip("\r\n").split(" ")
        if len(parts) != 3:
            self.respond(400, b"bad request line\n")
            return None
        method, target, version = parts
        headers = []
        for _ in range(MAX_HEADER_LINES):
            raw = self.reader.readline(65537)
            if raw in (b"\r\n", b"\n", b""):
                break
            text = raw.decode("latin-1").rstrip("\r\n")
            name, _, value = text.partition(":")
            headers.append([name, value.strip(" \t")])
        split = urllib.parse.urlsplit(target)
        host, port = self.client_address[:2]
        return {
            "time": time.time(), "client": "%s:%d" % (host, port), "method": method,
            "target": target, "path": split.path, "query": split.query,
            "version": version, "headers": headers,
        }

    def route(self, request):
        path = request["path"]
        query = dict(urllib.parse.parse_qsl(request["query"], keep_blank_values=True))
        head = request["method"] == "HEAD"
        if path.startswith("/_/gen/"):
            size = self.number(path[len("/_/gen/"):])
            if size is None:
                return self.respond(400, b"bad size\n")
            return self.send_body(pattern(size), query, head)
        if path.startswith("/_/file/"):
            data = self.read_file(path[len("/_/file/"):])
            if data is None:
                return self.respond(404, b"no such file\n")
            return self.send_body(data, query, head)
        if path.startswith("/_/status/"):
            code = self.number(path[len("/_/status/"):]) or 500
            return self.respond(code, ("status %d\n" % code).encode(), head=head)
        if path.startswith("/_/redirect/"):
            left = self.number(path[len("/_/redirect/"):])
            if left is None or "to" not in query:
                return self.respond(400, b"redirect needs a count and to=\n")
            code = self.number(query.get("code", "302")) or 302
            if left <= 1:
                location = query["to"]
            else:
                rest = urllib.parse.urlencode({k: v for k, v in query.items()})
                location = "/_/redirect/%d?%s" % (left - 1, rest)
            return self.respond(code, b"moved\n", [("Location", location)], head)
        if path == "/_/loop":
            return self.respond(302, b"moved\n", [("Location", "/_/loop")], head)
        if path == "/_/hang":
            return self.hold()
        data = self.read_file(path.lstrip("/"))
        if data is None:
            return self.respond(404, b"no such file\n", head=head)
        return self.respond(200, data, [("Content-Type", self.guess_type(path))], head)

    # -- answers ----------------------------------------------------------

    def send_body(self, body, query, head):
        if query.get("gzip") == "1":
            body = gzip.compress(body, mtime=0)
        status = self.number(query.get("status", "200")) or 200
        framing = query.get("framing", "length")
        chunk = max(1, self.number(query.get("chunk", "65536")) or 65536)
        cut = self.number(query.get("cut", "")) if "cut" in query else None
        after = query.get("after", "close")
        rate = self.number(query.get("rate", "")) if "rate" in query else None
        if rate is not None:
            rate = max(1, rate)
            chunk = min(chunk, max(1, rate // 10))
        headers = [("Content-Type", query.get("type", "application/octet-stream"))]
        if query.get("gzip") == "1":
            headers.append(("Content-Encoding", "gzip"))
        elif "encoding" in query:
            headers.append(("Content-Encoding", query["encoding"]))
        if framing == "length":
            headers.append(("Content-Length", str(len(body))))
        elif framing == "chunked":
            headers.append(("Transfer-Encoding", "chunked"))
        headers.append(("Connection", "close"))
        self.send_head(status, headers)
        if head:
            return
        limit = len(body) if cut is None else min(cut, len(body))
        sent = 0
        started = time.monotonic()
        while sent < limit:
            if rate is not None:
                ahead = started + sent / rate - time.monotonic()
                if ahead > 0:
                    time.sleep(ahead)
            piece = body[sent:min(sent + chunk, limit)]
            if framing == "chunked":
                whole = body[sent:sent + chunk]
                self.sock.sendall(b"%x\r\n" % len(whole) + piece +
                                  (b"\r\n" if len(piece) == len(whole) else b""))
            else:
                self.sock.sendall(piece)
            sent += len(piece)
        if cut is None:
            if framing == "chunked":
                self.sock.sendall(b"0\r\n\r\n")
            return
        if after == "reset":
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.sock.close()
        elif after == "stall":
            self.hold()

    def respond(self, code, body, extra=(), head=False):
        headers = [("Content-Type", "text/plain"), ("Content-Length", str(len(body))),
                   ("Connection", "close")] + list(extra)
        self.send_head(code, headers)
        if not head:
            self.sock.sendall(body)

    def send_head(self, code, headers):
        lines = ["HTTP/1.1 %d %s" % (code, REASONS.get(code, "Status"))]
        lines += ["%s: %s" % pair for pair in headers]
        self.sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))

    def hold(self):
        """Keeps the connection open, silent, until the client closes it."""
        deadline = time.monotonic() + self.server.options.hold_limit
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return
            readable, _, _ = select.select([self.sock], [], [], min(left, 1.0))
            if readable and not self.sock.recv(4096):
                return

    # -- helpers ----------------------------------------------------------

    def read_file(self, relative):
        root = os.path.realpath(self.server.options.root)
        full = os.path.realpath(os.path.join(root, urllib.parse.unquote(relative)))
        if not full.startswith(root + os.sep) or not os.path.isfile(full):
            return None
        with open(full, "rb") as f:
            return f.read()

    @staticmethod
    def number(text):
        try:
            return int(text)
        except (TypeError, ValueError):
            return None

    @staticmethod
    def guess_type(path):
        for ending, kind in ((".html", "text/html; charset=utf-8"), (".php", "text/html"),
                             (".json", "application/json"), (".txt", "text/plain")):
            if path.endswith(ending):
                return kind
        return "application/octet-stream"


def watch_stdin():
    try:
        while sys.stdin.buffer.read(4096):
            pass
    finally:
        os._exit(0)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--root", required=True, help="folder whose files are served")
    parser.add_argument("--log", help="JSON-lines file that records every request")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    parser.add_argument("--hold-limit", type=float, default=60.0)
    parser.add_argument("--watch-stdin", action="store_true",
                        help="exit when standard input is closed")
    options = parser.parse_args()
    if bool(options.tls_cert) != bool(options.tls_key):
        parser.error("--tls-cert and --tls-key go together")

    server = Server((options.host, options.port), options)
    print(server.server_address[1], flush=True)
    if options.watch_stdin:
        threading.Thread(target=watch_stdin, daemon=True).start()
    server.serve_forever(poll_interval=0.5)


if __name__ == "__main__":
    main()
