"""Starting the updater and other child processes, and ending them.

Every child is started so that it dies with this test process (a parent-death
signal), and this process adopts orphans of its children (a child subreaper),
so a product that the updater launches, or WebKit's helpers, can be found
and ended by pid at teardown.
"""

import ctypes
import os
import signal
import subprocess
import tempfile
import time

from . import config
from .waiting import wait_until

_PR_SET_PDEATHSIG = 1
_PR_SET_CHILD_SUBREAPER = 36
_libc = ctypes.CDLL(None, use_errno=True)


def become_subreaper():
    """Orphaned descendants are reparented to this process, not to init."""
    _libc.prctl(_PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


def _die_with_parent():
    # Runs in the child between fork and exec. The signal follows the thread
    # that forked: start children from the main thread only.
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


_spawned = {}  # pid -> Popen, for children this harness started itself


def spawn(argv, env=None, cwd=None, stdout=None, stderr=None, **kwargs):
    """subprocess.Popen for a child that must not outlive this process."""
    process = subprocess.Popen(argv, env=env, cwd=cwd, stdout=stdout, stderr=stderr,
                               preexec_fn=_die_with_parent, **kwargs)
    _spawned[process.pid] = process
    return process


def children():
    """Live pids whose parent is this process (adopted orphans included)."""
    me = str(os.getpid())
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        fields = _stat_fields(entry)
        if fields and fields[1] == me and fields[0] != "Z":
            found.append(int(entry))
    return found


def _stat_fields(pid):
    """State, ppid, ... of a process; None when it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()
    except OSError:
        return None


def _collect(pid):
    # A Popen of ours collects its own child (and keeps its exit code);
    # adopted orphans are collected here by pid.
    process = _spawned.get(pid)
    if process is not None:
        process.poll()
        return
    try:
        os.waitpid(pid, os.WNOHANG)
    except ChildProcessError:
        pass


def _collect_zombies():
    me = str(os.getpid())
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            fields = _stat_fields(entry)
            if fields and fields[1] == me and fields[0] == "Z":
                _collect(int(entry))


def end_children(keep=()):
    """Ends, by pid, every child of this process except those in keep, and
    collects them. Used at teardown so that nothing outlives a test."""
    keep = set(keep)

    def left():
        _collect_zombies()
        return [p for p in children() if p not in keep]

    for sig in (signal.SIGTERM, signal.SIGKILL):
        pids = left()
        if not pids:
            return
        for pid in pids:
            try:
                os.kill(pid, sig)
            except ProcessLookupError:
                pass
        try:
            wait_until(lambda: not left(), timeout=5, what="children to end")
            return
        except AssertionError:
            continue


def stop_process(process, timeout=10):
    """Asks a helper process (Xvfb, strace...) to end, kills it if it will
    not, and collects it."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def process_exists(pid):
    """True while pid names a process that has not ended."""
    fields = _stat_fields(pid)
    return bool(fields) and fields[0] != "Z"


class UpdaterProcess:
    """The updater started from a run directory.

    log_host goes to TAVRIX_UPDATE_LOG_HOST (host:port of the update-log
    page). Output goes to files (a pipe nobody reads could stall it).
    """

    def __init__(self, run_dir, log_host, env=None, display=None, cwd=None):
        self.run_dir = run_dir
        environment = dict(os.environ)
        environment["TAVRIX_UPDATE_LOG_HOST"] = log_host
        if display:
            environment["DISPLAY"] = display
        environment.update(env or {})
        self._out = tempfile.TemporaryFile(prefix="tavrix-out-")
        self._err = tempfile.TemporaryFile(prefix="tavrix-err-")
        # Started from elsewhere: the updater must find its run directory
        # from its own executable, not from the current directory.
        self.process = spawn([run_dir.executable], env=environment,
                             cwd=cwd or run_dir.root, stdout=self._out, stderr=self._err)
        self.pid = self.process.pid
        self.started = time.monotonic()

    def running(self):
        return self.process.poll() is None

    def exit_code(self):
        return self.process.poll()

    def wait_exit(self, timeout=config.EXIT_TIMEOUT):
        """The exit code; a test failure if the process is still running at
        the deadline. A death by signal N is -N."""
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(
                f"the updater (pid {self.pid}) did not end within {timeout} s\n"
                + self.output()) from None

    def send_signal(self, sig):
        if self.running():
            self.process.send_signal(sig)

    def stop(self):
        """Kills the updater if it still runs and collects it."""
        if self.running():
            self.process.kill()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            pass
        self._out.close()
        self._err.close()

    def output(self, limit=4000):
        """The tail of the updater's stdout and stderr, for failure messages."""
        parts = []
        for name, handle in (("stdout", self._out), ("stderr", self._err)):
            if handle.closed:
                continue
            handle.flush()
            handle.seek(0)
            text = handle.read().decode("utf-8", "replace")
            if text.strip():
                parts.append(f"--- updater {name} ---\n{text[-limit:]}")
        return "\n".join(parts)
