"""The payloads and the server that serves them: Debian's nginx, started
unprivileged on a loopback port from bench/nginx.conf.in, every file it
writes in the benchmark's own folder, in the foreground so that it ends
with the benchmark."""

import os
import pwd
import grp
import signal
import socket
import subprocess
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TEMPLATE = os.path.join(HERE, "nginx.conf.in")

# Payload bytes come from one random block repeated: no link layer here
# compresses, and writing 1 GiB of fresh randomness would cost seconds.
_BLOCK = 16 * 1024 * 1024


def parse_size(text):
    """'256M', '1G', '65536' -> bytes (K, M, G are powers of 1024)."""
    text = text.strip().upper().removesuffix("IB").removesuffix("B")
    factor = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}.get(text[-1:], 1)
    number = text[:-1] if text[-1:] in "KMG" else text
    return int(float(number) * factor)


def size_name(size):
    for unit, factor in (("GiB", 1 << 30), ("MiB", 1 << 20), ("KiB", 1 << 10)):
        if size >= factor and size % factor == 0:
            return f"{size // factor} {unit}"
    return f"{size} B"


def make_payloads(folder, sizes):
    """Files <size>.bin in folder, readable by everyone; name by size."""
    os.makedirs(folder, exist_ok=True)
    os.chmod(folder, 0o755)
    block = os.urandom(_BLOCK)
    names = {}
    for size in sorted(set(sizes)):
        name = f"{size}.bin"
        path = os.path.join(folder, name)
        with open(path, "wb") as out:
            left = size
            while left > 0:
                piece = min(left, len(block))
                out.write(block[:piece])
                left -= piece
        os.chmod(path, 0o644)
        names[size] = name
    return names


def _free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Nginx:
    """nginx on 127.0.0.1: /full/<name> at full speed, /slow/<name> limited
    to `rate` bytes per second, /zrq_api/... the update-log page."""

    def __init__(self, work, payload_dir, rate, spawn):
        self.work = os.path.join(work, "nginx")
        os.makedirs(self.work, exist_ok=True)
        self.port = _free_port()
        config = open(TEMPLATE, encoding="utf-8").read()
        for key, value in (("@WORK@", self.work), ("@ROOT@", payload_dir),
                           ("@PORT@", str(self.port)), ("@RATE@", str(int(rate)))):
            config = config.replace(key, value)
        self.config = os.path.join(self.work, "nginx.conf")
        with open(self.config, "w", encoding="utf-8") as out:
            out.write(config)

        argv = ["nginx", "-p", self.work, "-c", self.config, "-e", self.error_log]
        if os.geteuid() == 0:
            # Unprivileged even when the benchmark runs as root: the server
            # gets a user of no rights and a folder of its own.
            user, group = pwd.getpwnam("nobody"), grp.getgrnam("nogroup")
            for folder, _, files in os.walk(self.work):
                for path in [folder] + [os.path.join(folder, f) for f in files]:
                    os.chown(path, user.pw_uid, group.gr_gid)
            # The payloads must be readable to that user: the benchmark's
            # folder (under $TMPDIR) and the payload folder are opened to all.
            for folder in (work, payload_dir):
                os.chmod(folder, 0o755)
            argv = ["setpriv", f"--reuid={user.pw_uid}", f"--regid={group.gr_gid}",
                    "--clear-groups", "--"] + argv
        self.process = spawn(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._wait_listening()

    @property
    def error_log(self):
        return os.path.join(self.work, "error.log")

    @property
    def host(self):
        return f"127.0.0.1:{self.port}"

    def url(self, kind, name):
        return f"http://{self.host}/{kind}/{name}"

    def _wait_listening(self, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                break
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                    return
            except OSError:
                time.sleep(0.05)
        log = ""
        if os.path.exists(self.error_log):
            log = open(self.error_log, encoding="utf-8", errors="replace").read()[-2000:]
        self.close()
        raise RuntimeError(f"nginx did not start on port {self.port}\n{log}")

    def close(self):
        if self.process.poll() is None:
            # SIGQUIT: a graceful stop of master and worker.
            self.process.send_signal(signal.SIGQUIT)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

