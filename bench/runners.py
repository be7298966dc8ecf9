"""One measured download each: a command-line downloader as a child process,
or the real updater under the virtual display, driven through AT-SPI.

Times come from time.perf_counter. The CPU time of a command is user+sys
from wait4; the updater's is the growth of utime+stime in /proc/PID/stat of
its own process (WebKit's helpers are other processes and do not count)."""

import os
import subprocess
import tempfile
import time

from harness import a11y, config, end_children
from harness.processes import UpdaterProcess
from harness.rundir import RunDir

CLOCK_TICK = os.sysconf("SC_CLK_TCK")
START_UPDATE = "开始更新"
DOWNLOAD_DONE = "下载完成！"
PRODUCT_FILE = "Tavrix.exe"
POLL_S = 0.002  # how often the end of a download is looked for

# Children of the benchmark that outlive each run (the server): the sweep
# after a run ends every other child, WebKit's helpers among them.
_keep = set()


def keep_alive(pid):
    _keep.add(pid)


def end_run_children():
    end_children(keep=_keep)


class BenchError(RuntimeError):
    """A run that did not do its job: the benchmark stops with its reason."""


class Sample:
    """One run: its wall time, the CPU time of the downloading process, and
    whatever else the run measured."""

    def __init__(self, size, seconds, cpu, **extra):
        self.size = size
        self.seconds = seconds
        self.cpu = cpu
        self.extra = extra

    @property
    def mb_per_s(self):
        return self.size / self.seconds / 1e6

    def as_dict(self):
        return dict(size=self.size, seconds=self.seconds, cpu=self.cpu, **self.extra)


def run_command(argv, output, size):
    """Runs a downloader that writes `output`; a Sample of its wall and CPU
    time. The file must hold `size` bytes; it is removed afterwards."""
    if os.path.exists(output):
        os.unlink(output)
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        process = subprocess.Popen(argv, stdout=out, stderr=err)
        _, status, usage = os.wait4(process.pid, 0)
        seconds = time.perf_counter() - start
        process.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        stdout = out.read().decode(errors="replace")
        stderr = err.read().decode(errors="replace")
    got = os.path.getsize(output) if os.path.exists(output) else -1
    if os.path.exists(output):
        os.unlink(output)
    if process.returncode != 0 or got != size:
        raise BenchError(f"{' '.join(argv)}: exit {process.returncode}, {got} of {size} bytes\n"
                         f"{stdout}{stderr}")
    return Sample(size, seconds, usage.ru_utime + usage.ru_stime, stdout=stdout.strip())


# The updater ----------------------------------------------------------

def process_cpu(pid):
    """utime+stime of a process, in seconds."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICK


def peak_rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise BenchError(f"no VmHWM for pid {pid}")


def _deadline_loop(timeout, what, interval=POLL_S):
    """Yields until the caller breaks out; a BenchError at the deadline."""
    deadline = time.monotonic() + timeout
    while True:
        yield
        if time.monotonic() > deadline:
            raise BenchError(f"waited {timeout} s for {what}")
        time.sleep(interval)


def _name(accessible):
    accessible.clear_cache()
    return accessible.name or ""


def _accessible_by_id(window, wanted):
    for node in window.nodes():
        try:
            if node.accessible.get_accessible_id() == wanted:
                return node.accessible
        except Exception:
            continue
    raise BenchError(f"no control {wanted} in the window:\n{window.describe()}")


class UpdaterRun:
    """The updater started in a fresh run directory whose hand-off file
    offers `url`, its window shown and settled. measure() presses
    "开始更新" and waits for "下载完成！"; close() ends everything."""

    def __init__(self, url, log_host, size):
        self.size = size
        self.run_dir = RunDir()
        self.run_dir.write_handoff(dict(config.OFFER, 下载地=url))
        self.updater = UpdaterProcess(self.run_dir, log_host)
        try:
            self.window = None
            for _ in _deadline_loop(config.START_TIMEOUT, "the updater's window", 0.05):
                if not self.updater.running():
                    raise BenchError(f"the updater ended at start-up\n{self.updater.output()}")
                self.window = a11y.window_now(self.updater.pid)
                if self.window is not None:
                    break
            self.button = self.window.button(START_UPDATE).accessible
            self.progress_label = _accessible_by_id(self.window, "标签5")
            self.received_label = _accessible_by_id(self.window, "标签7")
            self._settle()
        except BaseException:
            self.close()
            raise

    def _settle(self, quiet_s=0.3, timeout=15):
        """Waits until the updater has used no CPU for quiet_s (the update
        log has loaded, start-up work is over); gives up quietly at timeout."""
        deadline = time.monotonic() + timeout
        last = process_cpu(self.updater.pid)
        while time.monotonic() < deadline:
            time.sleep(quiet_s)
            now = process_cpu(self.updater.pid)
            if now == last:
                return
            last = now

    def measure(self, timeout=600, probe_every=None):
        """Presses the button and waits for the end; a Sample. With
        probe_every (seconds), a label of the window is read through AT-SPI
        that often during the download, and each read's time is kept in
        extra["probes_ms"]."""
        pid = self.updater.pid
        product = self.run_dir.file(PRODUCT_FILE)
        download = self.run_dir.file(config.DOWNLOAD_FILE)
        # When the download file appeared (the body began) and when it held
        # every byte; what follows is closing, ending the product, installing.
        file_made = body_done = None
        probes = []
        peak_before = peak_rss_kib(pid)
        cpu_before = process_cpu(pid)
        start = time.perf_counter()
        if not self.button.queryAction().doAction(0):
            raise BenchError("the update button took no press")
        # The new executable is put in place just before the last captions
        # are set: until it exists only a cheap file check runs, so that
        # the watching does not load the window's thread.
        next_probe = time.perf_counter()
        for _ in _deadline_loop(timeout, "the download to end"):
            if os.path.exists(product):
                break
            if body_done is None:
                try:
                    got = os.stat(download).st_size
                    if file_made is None:
                        file_made = time.perf_counter() - start
                    if got == self.size:
                        body_done = time.perf_counter() - start
                except OSError:
                    pass
            if probe_every is not None and time.perf_counter() >= next_probe:
                asked = time.perf_counter()
                _name(self.received_label)
                probes.append((time.perf_counter() - asked) * 1000)
                next_probe = asked + probe_every
            if not self.updater.running():
                raise BenchError(f"the updater ended during the download\n{self.updater.output()}")
        installed = time.perf_counter() - start
        for _ in _deadline_loop(30, f"{DOWNLOAD_DONE!r} in the window"):
            if _name(self.progress_label) == DOWNLOAD_DONE:
                break
        seconds = time.perf_counter() - start
        cpu = process_cpu(pid) - cpu_before
        peak = peak_rss_kib(pid)
        got = os.path.getsize(product)
        if got != self.size:
            raise BenchError(f"the updater installed {got} of {self.size} bytes")
        return Sample(self.size, seconds, cpu, peak_rss_kib=peak, peak_before_kib=peak_before,
                      probes_ms=probes, file_made_s=file_made, body_done_s=body_done,
                      installed_s=installed)

    def close(self):
        try:
            self.updater.stop()
        finally:
            end_run_children()
            self.run_dir.cleanup()


def run_updater(url, log_host, size, probe_every=None):
    run = UpdaterRun(url, log_host, size)
    try:
        return run.measure(probe_every=probe_every)
    finally:
        run.close()


def run_startup(probe, log_host):
    """Milliseconds from the exec of the updater to its window's map."""
    run_dir = RunDir()
    try:
        run_dir.write_handoff(config.OFFER)
        env = dict(os.environ, TAVRIX_UPDATE_LOG_HOST=log_host)
        # Files, not pipes: a helper of WebKit's that lingers with the
        # updater's output open must not keep this run waiting.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run([probe, "--timeout", str(config.START_TIMEOUT),
                                     config.WINDOW_TITLE, run_dir.executable],
                                    env=env, cwd=run_dir.root, stdout=out, stderr=err,
                                    timeout=config.START_TIMEOUT + 30)
            out.seek(0)
            err.seek(0)
            stdout = out.read().decode(errors="replace")
            stderr = err.read().decode(errors="replace")
        if result.returncode != 0 or not stdout.split():
            raise BenchError(f"start-up probe: {stderr.strip()}")
        return float(stdout.split()[0])
    finally:
        end_run_children()
        run_dir.cleanup()
