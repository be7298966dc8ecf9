"""What the fault-matrix files (test_faults_*.py) share: a run directory
with an old product and an offer, the steps that drive the updater to a
stage, the faults that need more than a misbehaving server (a small or
read-only file system, a server that sends more than it announces, a trap at
the installation's rename), and the one check that must hold after every
row, whatever the fault:

- "Tavrix.exe" exists and is the old executable or the complete new one,
  byte for byte, never a part of one and never missing;
- the run directory holds exactly the files the row expects (no temporary
  file is left but the partial download that the next start removes);
- the exit code is the one expected;
- no process is left running from the run directory (the updater, the web
  view's helpers), unless the row keeps one on purpose.

Import this module before anything starts a thread or a child: it moves the
test process into a mount namespace of its own, so that every mount a row
makes is seen by the updaters it starts and vanishes with the test run,
however it ends.
"""

import ctypes
import os
import re
import select
import shutil
import socket
import stat
import subprocess
import tempfile
import threading
import time

import harness
from harness import UpdaterTestCase, a11y, config, products, wait_until
from harness.processes import spawn, stop_process

MESSAGE_TITLE = "信息："
START = "开始更新"
UPDATING = "正在更新"
LAUNCH = "启动Tavrix"
DONE = "下载完成！"
EXE = "Tavrix.exe"
TMP = config.DOWNLOAD_FILE
UPDATER = "tavrix-updater"

# The download routine's and the installation's messages.
OPEN_URL_FAILED = "不能打开该URL!"
LOCAL_FILE_FAILED = "不能打开本地的文件!"
READ_FAILED = "读文件出错!"
WRITE_FAILED = "写文件出错!"
INSTALL_FAILED = "安装新版本出错!"

# What a run directory holds after an update, or after a failed one once the
# partial download is gone.
LEFT = [EXE, "pz/", UPDATER]

# The old executable: bytes that no served body shares.
OLD = b"old Tavrix 2.72 executable\n" * 400
# A name that no process on this machine has: ending the product by name
# looks at every process of the system, and a row that is not about the
# product must not end another test's product called "Tavrix.exe".
OWN_NAME = f"Tavrix{os.getpid()}.exe"
# Deadlines (not timings): a small download on a busy two-core machine, and
# the end of a program that is asked to end.
DOWNLOAD_TIMEOUT = 60
PROMPT_EXIT = 10
LEFTOVER_TIMEOUT = 15


def pattern(size):
    """The body of the test server's /_/gen/<size>: byte i is i % 251."""
    block = bytes(i % 251 for i in range(251))
    whole, rest = divmod(size, 251)
    return block * whole + block[:rest]


def enabled(node):
    return "sensitive" in node.states and "enabled" in node.states


# A mount namespace of our own ------------------------------------------

_CLONE_NEWNS = 0x00020000
_MS_REC = 0x4000
_MS_PRIVATE = 0x40000


def _enter_private_mounts():
    """True when this process now has mounts of its own (root only)."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(_CLONE_NEWNS) != 0:
        return False
    # Nothing mounted here propagates back to the machine.
    return libc.mount(b"none", b"/", None, _MS_REC | _MS_PRIVATE, None) == 0


PRIVATE_MOUNTS = _enter_private_mounts()


def _run(*argv):
    return subprocess.run(argv, capture_output=True, text=True, timeout=30)


# Processes left behind --------------------------------------------------

def processes_in(folder):
    """Pids whose executable or current directory lies in folder."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        for leaf in ("exe", "cwd"):
            try:
                target = os.readlink(f"/proc/{entry}/{leaf}")
            except OSError:
                continue
            target = target.removesuffix(" (deleted)")
            if target == folder or target.startswith(folder + os.sep):
                if harness.process_exists(entry):
                    found.append(int(entry))
                break
    return found


# A server that answers with fixed bytes ---------------------------------

class RawServer:
    """Answers every connection on 127.0.0.1 with `answer`, byte for byte
    (a status line, headers and a body that need not agree), then closes.
    With hold_at, only the first hold_at bytes go out until release() is
    called: a download held in its middle for as long as a row needs.
    Runs in a thread of the test; close() ends it."""

    HOLD_LIMIT = 120  # a held answer is given up after this, whatever comes

    def __init__(self, answer, hold_at=None):
        self.answer = answer
        self.hold_at = len(answer) if hold_at is None else hold_at
        self.requests = []
        self._socket = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._socket.bind(("127.0.0.1", 0))
        self._socket.listen(8)
        self._socket.settimeout(0.2)
        self._closing = threading.Event()
        self._released = threading.Event()
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def url(self, path="/Tavrix.exe"):
        return f"http://127.0.0.1:{self._socket.getsockname()[1]}{path}"

    def release(self):
        self._released.set()

    def _held(self, connection):
        """Waits for release(); False when the client goes away, the server
        closes or the limit passes."""
        deadline = time.monotonic() + self.HOLD_LIMIT
        while not self._released.wait(0.2):
            if self._closing.is_set() or time.monotonic() > deadline:
                return False
            readable, _, _ = select.select([connection], [], [], 0)
            if readable and not connection.recv(65536):
                return False
        return True

    def _serve(self):
        while not self._closing.is_set():
            try:
                connection, _ = self._socket.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            threading.Thread(target=self._answer, args=(connection,), daemon=True).start()

    def _answer(self, connection):
        with connection:
            connection.settimeout(10)
            request = b""
            try:
                while b"\r\n\r\n" not in request:
                    piece = connection.recv(65536)
                    if not piece:
                        break
                    request += piece
                self.requests.append(request)
                connection.sendall(self.answer[:self.hold_at])
                if self.hold_at < len(self.answer):
                    if not self._held(connection):
                        return
                    connection.sendall(self.answer[self.hold_at:])
                connection.shutdown(socket.SHUT_WR)
                # Until the client has gone: the bytes must not be cut by a reset.
                while connection.recv(65536):
                    pass
            except OSError:
                pass

    def close(self):
        self._closing.set()
        self._thread.join(timeout=5)
        self._socket.close()


def held_download(body, hold_at):
    """The answer of a server that sends `body` as a download of its length,
    and the number of bytes to send before a hold at byte hold_at of the body."""
    head = (b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
            b"Content-Length: %d\r\nConnection: close\r\n\r\n" % len(body))
    return head + body, len(head) + hold_at


# A trap at one step of the installation -------------------------------

RENAMES = "rename,renameat,renameat2"
UNLINKS = "unlink,unlinkat"


class SyscallTrap:
    """strace attached to a running updater, acting on its calls of
    `syscalls` (strace's names, comma-separated) that name one of the files
    `names` of the run directory: `inject` is strace's (e.g.
    "delay_enter=..." to hold the installation at that step,
    "error=EIO:signal=SIGKILL" to kill the updater just before it). The
    program runs as it is; the trap stands where a slow disk or a power cut
    would."""

    def __init__(self, updater, run_dir, names, syscalls, inject):
        self._log = tempfile.NamedTemporaryFile(prefix="tavrix-trace-", delete=False)
        self._err = tempfile.TemporaryFile(prefix="tavrix-strace-")
        self.path = self._log.name
        self.syscalls = syscalls
        paths = []
        for name in names:
            # strace matches paths as written; the program writes some paths
            # with a doubled separator before the file name.
            paths += ["-P", run_dir.file(name), "-P", run_dir.path + "//" + name]
        self.process = spawn(
            ["strace", "-f", "-p", str(updater.pid), *paths,
             "-e", f"trace={syscalls}", "-e", f"inject={syscalls}:{inject}", "-o", self.path],
            stdout=subprocess.DEVNULL, stderr=self._err)
        # Attached once strace has said so for the process's threads; a
        # strace that ends first could not attach (see attached).
        wait_until(lambda: b"attached" in self.stderr() or self.process.poll() is not None,
                   20, "strace to attach")

    def attached(self):
        return self.process.poll() is None

    def stderr(self):
        self._err.seek(0)
        return self._err.read()

    def log(self):
        with open(self.path, "rb") as log:
            return log.read().decode("utf-8", "replace")

    def entered(self):
        """True once the updater has entered one of the trapped calls."""
        names = "|".join(self.syscalls.split(","))
        return re.search(rf"\b({names})\(", self.log()) is not None

    def close(self):
        stop_process(self.process)
        self._err.close()
        os.unlink(self.path)


def main_thread_ended(pid):
    """True once the process's first thread has ended: the process is gone,
    or only a thread held by a trap keeps it from being so."""
    try:
        with open(f"/proc/{pid}/stat") as source:
            return source.read().rsplit(")", 1)[1].split()[0] in ("Z", "X")
    except OSError:
        return True


# libfaketime, preloaded into the updater, runs its clocks (the monotonic one
# too) thirty times as fast: a limit of a minute passes in two seconds, and
# nothing in the program changes.
FAKETIME_LIBRARY = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1"
FASTER_CLOCK = {"LD_PRELOAD": FAKETIME_LIBRARY, "FAKETIME": "+0 x30"}


def strace_usable():
    return shutil.which("strace") is not None


# The rows' base class ---------------------------------------------------

class FaultCase(UpdaterTestCase):

    # Fixtures ---------------------------------------------------------

    def offer(self, url, name=OWN_NAME, **keys):
        return dict(config.OFFER, 文件名=name, 下载地=url, **keys)

    def prepare(self, url, name=OWN_NAME, old=OLD, **keys):
        """A run directory with the old "Tavrix.exe" and an offer of url."""
        run_dir = self.make_run_dir(self.offer(url, name, **keys))
        self.put_old(run_dir, old)
        return run_dir

    def put_old(self, run_dir, old=OLD):
        path = run_dir.write_file(EXE, old)
        os.chmod(path, 0o755)

    def prepare_with_product(self, url):
        """A run directory whose "Tavrix.exe" is the stand-in product 2.72,
        offering url under the name "Tavrix.exe", with that product running
        from it. Its window is titled "Tavrix.exe", so the updater finds
        this process on this test's display and never another test's
        product elsewhere on the machine. Returns the run directory, the
        product's Popen and the old executable's bytes."""
        with open(products.product_binary("2.72"), "rb") as source:
            old = source.read()
        run_dir = self.prepare(url, name=EXE, old=old)
        product = spawn([run_dir.file(EXE)], cwd=run_dir.path,
                        env=dict(os.environ, TAVRIX_PRODUCT_TITLE=EXE),
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: product.poll() is None and (product.kill(), product.wait()))
        a11y.find_window(product.pid, EXE)
        return run_dir, product, old

    def serve(self):
        return self.support_server()

    def held_server(self, body, hold_at):
        """A server whose download of body stops after hold_at bytes until
        its release() is called."""
        return self.raw_server(*held_download(body, hold_at))

    def raw_server(self, answer, hold_at=None):
        server = RawServer(answer, hold_at)
        self.addCleanup(server.close)
        return server

    def faster_clock(self):
        """The environment that runs the updater's clocks fast."""
        if not os.path.exists(FAKETIME_LIBRARY):
            self.skipTest("libfaketime is not installed")
        return dict(FASTER_CLOCK)

    def trap(self, updater, run_dir, names, syscalls, inject):
        if not strace_usable():
            self.skipTest("strace is not installed")
        trap = SyscallTrap(updater, run_dir, names, syscalls, inject)
        self.addCleanup(trap.close)
        if not trap.attached():
            self.skipTest(f"strace cannot attach here: {trap.stderr().decode(errors='replace')}")
        return trap

    def trap_rename(self, updater, run_dir, inject):
        """A trap at the rename of the download file into place."""
        return self.trap(updater, run_dir, [TMP], RENAMES, inject)

    # Mounts (in this test process's own mount namespace) ---------------

    def need_private_mounts(self):
        if not PRIVATE_MOUNTS:
            self.skipTest("no mount namespace of our own here (needs root)")

    def mount_tmpfs_run_dir(self, run_dir, free):
        """Puts a fresh tmpfs over the run directory with room for what it
        holds now plus about `free` bytes, and copies its files over."""
        self.need_private_mounts()
        held = tempfile.mkdtemp(prefix="tavrix-held-")
        self.addCleanup(shutil.rmtree, held, True)
        shutil.copytree(run_dir.path, held, dirs_exist_ok=True, symlinks=True)
        used = sum(-(-os.path.getsize(os.path.join(d, n)) // 4096) * 4096
                   for d, _, names in os.walk(held) for n in names)
        size = used + free
        result = _run("mount", "-t", "tmpfs", "-o", f"size={size},mode=0755", "tmpfs", run_dir.path)
        if result.returncode != 0:
            self.skipTest(f"tmpfs cannot be mounted here: {result.stderr.strip()}")
        self.addCleanup(_run, "umount", "-l", run_dir.path)
        shutil.copytree(held, run_dir.path, dirs_exist_ok=True, symlinks=True)

    def make_read_only(self, run_dir):
        """The run directory, as it stands, becomes read-only for everyone,
        root included: a read-only bind mount of itself."""
        self.need_private_mounts()
        for argv in (("mount", "--bind", run_dir.path, run_dir.path),
                     ("mount", "-o", "remount,bind,ro", run_dir.path)):
            result = _run(*argv)
            if result.returncode != 0:
                self.skipTest(f"no read-only bind mount here: {result.stderr.strip()}")
            if argv[1] == "--bind":
                self.addCleanup(_run, "umount", "-l", run_dir.path)
        try:
            open(run_dir.file("probe"), "wb").close()
        except OSError:
            return
        os.unlink(run_dir.file("probe"))
        self.skipTest("the read-only bind mount still takes writes")

    # Steps ------------------------------------------------------------

    def start(self, run_dir):
        updater = self.start_updater(run_dir)
        window = self.wait_window(updater)
        # The leftover check at the end finds the updater by its folder.
        self.assertIn(updater.pid, processes_in(run_dir.path))
        return updater, window

    def press_update(self, window):
        """Presses "开始更新"; the button turns into "正在更新", disabled (a
        small download may already have gone on to "启动Tavrix")."""
        window.press(START)
        buttons = wait_until(lambda: (lambda b: b if START not in b else None)(window.buttons()),
                             10, lambda: f"the button to change: {list(window.buttons())}")
        if UPDATING in buttons:
            self.assertFalse(enabled(buttons[UPDATING]), buttons[UPDATING])
        else:
            self.assertIn(LAUNCH, buttons)

    def received(self, window):
        """The bytes the received label shows, in KB."""
        found = [n for n in window.labels() if n.startswith("已下载:")]
        match = re.match(r"已下载:([0-9.]+)KB", found[0]) if found else None
        return float(match.group(1)) if match else 0.0

    def wait_progress(self, window, kb=0.0):
        """Until the received label shows more than kb KB."""
        return wait_until(lambda: self.received(window) > kb, DOWNLOAD_TIMEOUT,
                          lambda: f"more than {kb} KB to be received: {window.labels()}")

    def wait_installed(self, updater, window):
        """Until the launch button shows; a message box fails the row."""
        def installed():
            boxes = a11y.message_boxes(updater.pid)
            if boxes:
                raise _Stop(f"message box {boxes[0].title!r}: {boxes[0].texts()}")
            button = window.buttons().get(LAUNCH)
            return button if button is not None and enabled(button) else None
        try:
            wait_until(installed, DOWNLOAD_TIMEOUT, "the installation to complete", stop_on=_Stop)
        except _Stop as stop:
            self.fail(f"{stop}\n{updater.output()}")
        self.assertIn(DONE, window.labels())
        bar = window.find(role="progress bar")[0].accessible.queryValue()
        self.assertEqual(bar.currentValue, bar.maximumValue)

    def settle(self, updater, window):
        """Waits for the end of an update, whichever it is: the message of a
        failure (its texts) or the launch button (None)."""
        def settled():
            boxes = a11y.message_boxes(updater.pid)
            if boxes:
                return ("message", boxes[0].texts())
            return ("installed", None) if LAUNCH in window.buttons() else None
        return wait_until(settled, DOWNLOAD_TIMEOUT, "the update to end one way or the other")[1]

    def expect_refused_address(self, url, server=None, requests=None):
        """One start whose download address is refused: "不能打开该URL!", no
        download file, the old executable kept. With a server, the paths it
        was asked for must be `requests`."""
        run_dir = self.prepare(url)
        updater, window = self.start(run_dir)
        self.press_update(window)
        self.expect_message(updater, window, OPEN_URL_FAILED)
        if server is not None:
            self.assertEqual([r["path"] for r in server.requests()], requests)
        self.assertFalse(run_dir.exists(TMP))
        window.press("×")
        self.assert_outcome(run_dir, updater, OLD, LEFT)

    def expect_message(self, updater, window, text):
        """The one message box of a failure: its text (or one of a tuple of
        texts) and title, an OK button;
        once it is dismissed the update button stays disabled with
        "正在更新" and the window keeps working."""
        self.assertIsNotNone(self.settle(updater, window), "installed instead")
        box = self.wait_message_box(updater, MESSAGE_TITLE, timeout=DOWNLOAD_TIMEOUT)
        texts = box.texts()
        if isinstance(text, tuple):
            self.assertIn(texts, [[t] for t in text])
        else:
            self.assertEqual(texts, [text])
        self.assertEqual(list(box.buttons()), ["OK"])
        self.assertEqual(len(a11y.message_boxes(updater.pid)), 1)
        a11y.press_ok(box)
        wait_until(lambda: not a11y.message_boxes(updater.pid), 10, "the message box to close")
        self.assert_stuck_updating(window)
        self.assertTrue(updater.running())

    def assert_stuck_updating(self, window):
        buttons = window.buttons()
        self.assertEqual(set(buttons), {UPDATING, "×"})
        self.assertFalse(enabled(buttons[UPDATING]), buttons[UPDATING])

    def close_with_button(self, window):
        window.press("×")

    def restart_clears(self, run_dir):
        """The next start with nothing on offer: the leftover download file
        goes before the notice shows; OK ends it with 0."""
        self.assertTrue(run_dir.exists(TMP), run_dir.files())
        updater = self.start_updater(run_dir)
        box = self.wait_message_box(updater, config.NOTICE_TITLE)
        self.assertFalse(run_dir.exists(TMP), run_dir.files())
        a11y.press_ok(box)
        self.assert_exit_code(updater, 0)

    # The check after every row ------------------------------------------

    def assert_outcome(self, run_dir, updaters, exe, files, exit_code=0, keep_pids=(),
                       exit_timeout=PROMPT_EXIT):
        """What must hold after a row once its updaters are meant to have
        ended (see the top of this file). `exe` is the expected content of
        "Tavrix.exe", or a tuple of the contents that may stand there (a row
        whose moment cannot be hit exactly); the one found is returned.
        `exit_code` is one code for every updater or a list of codes, each
        awaited for at most exit_timeout seconds."""
        if not isinstance(updaters, (list, tuple)):
            updaters = [updaters]
        codes = exit_code if isinstance(exit_code, (list, tuple)) else [exit_code] * len(updaters)
        for updater, code in zip(updaters, codes):
            self.assertEqual(updater.wait_exit(exit_timeout), code,
                             f"exit code of updater {updater.pid}\n{updater.output()}")

        path = run_dir.file(EXE)
        self.assertTrue(os.path.isfile(path) and not os.path.islink(path),
                        f"no Tavrix.exe: {run_dir.files()}")
        content = run_dir.read_file(EXE)
        allowed = exe if isinstance(exe, tuple) else (exe,)
        self.assertIn(content, allowed,
                      f"Tavrix.exe holds {len(content)} bytes that are none of the "
                      f"{[len(a) for a in allowed]} expected")
        if content != OLD:
            self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o755)

        self.assertEqual(run_dir.files(), sorted(files))

        keep = set(keep_pids)
        wait_until(lambda: not [p for p in processes_in(run_dir.path) if p not in keep],
                   LEFTOVER_TIMEOUT,
                   lambda: f"no process left in the run directory: "
                           f"{[(p, _cmdline(p)) for p in processes_in(run_dir.path)]}")
        return content


def _cmdline(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as source:
            return source.read().replace(b"\0", b" ").decode("utf-8", "replace")[:120]
    except OSError:
        return "?"


class _Stop(Exception):
    """A wait that can no longer succeed."""
