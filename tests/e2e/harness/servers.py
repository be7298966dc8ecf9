"""Loopback servers for the tests: the update-log page, the download server,
and a port where nobody answers."""

import http.server
import json
import os
import select
import shutil
import socket
import subprocess
import tempfile
import threading
import time

from . import config
from .processes import spawn
from .waiting import wait_until

UPDATE_LOG_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>更新日志</title></head>
<body style="margin:4px;font-size:12px">
<p>Tavrix 2.73 更新日志</p>
<ul><li>修正了下载进度的显示</li><li>新增了更新日志</li></ul>
<p><a href="/zrq_api/io.php?a=uplog&amp;more=1">更多</a></p>
</body></html>
"""


class LogServer:
    """The update-log service on 127.0.0.1: answers every GET with a page
    (UTF-8, declared in its Content-Type) and records each request's method,
    path with query, and headers. Runs in a thread of the test process."""

    def __init__(self, page=UPDATE_LOG_PAGE, status=200):
        self._requests = []
        self._lock = threading.Lock()
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):
                with owner._lock:
                    owner._requests.append({"method": "GET", "path": self.path,
                                            "headers": dict(self.headers.items())})
                body = page.encode("utf-8")
                self.send_response(status)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self._server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._server.daemon_threads = True
        self._thread = threading.Thread(target=self._server.serve_forever,
                                        kwargs={"poll_interval": 0.2}, daemon=True)
        self._thread.start()

    @property
    def port(self):
        return self._server.server_address[1]

    @property
    def host(self):
        """host:port, the form TAVRIX_UPDATE_LOG_HOST takes."""
        return f"127.0.0.1:{self.port}"

    def requests(self):
        with self._lock:
            return list(self._requests)

    def paths(self):
        return [r["path"] for r in self.requests()]

    def wait_for_request(self, timeout=config.START_TIMEOUT):
        """The first request, once one has arrived."""
        return wait_until(lambda: self.requests()[:1], timeout,
                          f"a request to the update-log server {self.host}")[0]

    def close(self):
        self._server.shutdown()
        self._server.server_close()


class DeadPort:
    """A loopback port where a connection is refused at once: the socket is
    bound (so no one else gets the port while the test runs) but never
    listens."""

    def __init__(self):
        self._socket = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._socket.bind(("127.0.0.1", 0))

    @property
    def port(self):
        return self._socket.getsockname()[1]

    @property
    def host(self):
        return f"127.0.0.1:{self.port}"

    def close(self):
        self._socket.close()


class SupportServer:
    """tests/support/http_server.py, the misbehaving server, as a child.

    Serves files from `root` (a fresh temporary folder if not given) and the
    /_/... paths that shape a body; records every request as a JSON line.
    It ends when its standard input closes, so it never outlives the test.
    """

    def __init__(self, root=None, extra_args=(), timeout=30):
        self._temp = tempfile.mkdtemp(prefix="tavrix-http-")
        self.root = root or os.path.join(self._temp, "root")
        os.makedirs(self.root, exist_ok=True)
        self.log = os.path.join(self._temp, "requests.jsonl")
        script = os.path.join(config.SOURCE_DIR, "tests", "support", "http_server.py")
        self.process = spawn(["/usr/bin/python3", script, "--root", self.root, "--log", self.log,
                              "--watch-stdin", *extra_args],
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL)
        line = b""
        deadline = time.monotonic() + timeout
        while not line.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([self.process.stdout], [], [],
                                        max(0.0, deadline - time.monotonic()))
            chunk = os.read(self.process.stdout.fileno(), 64) if ready else b""
            if not chunk:
                break
            line += chunk
        if not line.strip().isdigit():
            self.close()
            raise RuntimeError(f"the test HTTP server did not start: {line!r}")
        self.port = int(line)

    @property
    def host(self):
        return f"127.0.0.1:{self.port}"

    def url(self, path):
        return f"http://{self.host}{path}"

    def put_file(self, name, data):
        """A file to serve at /<name>."""
        path = os.path.join(self.root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)
        return path

    def requests(self):
        """Every request so far, in arrival order (see http_server.py)."""
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as log:
            return [json.loads(line) for line in log if line.endswith("\n")]

    def close(self):
        if self.process.poll() is None:
            try:
                self.process.stdin.close()
            except OSError:
                pass
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        shutil.rmtree(self._temp, ignore_errors=True)
