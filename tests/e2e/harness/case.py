"""UpdaterTestCase: a unittest base class whose helpers clean up after
themselves, whatever way a test ends."""

import os
import unittest

from . import a11y, config, screen
from .processes import UpdaterProcess, become_subreaper, end_children
from .products import PRODUCT_NAME, Product
from .rundir import RunDir
from .servers import DeadPort, LogServer, SupportServer
from .waiting import wait_until

become_subreaper()


class UpdaterTestCase(unittest.TestCase):
    """Each helper registers its own teardown; the last teardown ends every
    child this process still has (a launched product, WebKit's helpers)."""

    def setUp(self):
        self.addCleanup(end_children)

    # Fixtures ---------------------------------------------------------

    def make_run_dir(self, handoff=config.OFFER, dir_name="run", **handoff_options):
        """A run directory with the updater in it and, unless handoff is
        None, a hand-off file (a dict of keys, or raw bytes)."""
        run_dir = RunDir(dir_name=dir_name)
        self.addCleanup(run_dir.cleanup)
        if handoff is not None:
            run_dir.write_handoff(handoff, **handoff_options)
        return run_dir

    def log_server(self, **options):
        server = LogServer(**options)
        self.addCleanup(server.close)
        return server

    def dead_port(self):
        port = DeadPort()
        self.addCleanup(port.close)
        return port

    def support_server(self, **options):
        server = SupportServer(**options)
        self.addCleanup(server.close)
        return server

    def virtual_display(self, size):
        display = screen.VirtualDisplay(size)
        self.addCleanup(display.close)
        return display

    def start_product(self, run_dir, name=PRODUCT_NAME, title=None):
        """Starts the file `name` of the run directory (see
        products.install_product) from there, as the running product; its
        window is titled `title` if given. Killed at teardown."""
        product = Product(run_dir.file(name), title=title)
        self.addCleanup(product.stop)
        return product

    # The program ------------------------------------------------------

    def start_updater(self, run_dir, log_host=None, env=None, display=None):
        """Starts the updater; with no log_host its page goes to a port where
        nobody answers. It is killed at teardown if it still runs."""
        if log_host is None:
            log_host = self.dead_port().host
        updater = UpdaterProcess(run_dir, log_host, env=env, display=display)
        self.addCleanup(updater.stop)
        return updater

    def wait_window(self, updater, timeout=config.START_TIMEOUT):
        """The updater's window, once it shows; fails at once if the process
        ends first."""
        return self._wait_while_running(updater, lambda: a11y.window_now(updater.pid),
                                        timeout, "its window")

    def wait_message_box(self, updater, title=None, timeout=config.START_TIMEOUT):
        """A message box of the updater (titled `title` if given)."""
        return self._wait_while_running(updater, lambda: a11y.message_box_now(updater.pid, title),
                                        timeout, f"a message box {title or ''}")

    def _wait_while_running(self, updater, probe, timeout, what):
        def guarded():
            if not updater.running():
                raise _Ended()
            return probe()
        try:
            return wait_until(guarded, timeout, f"{what} (updater pid {updater.pid})",
                              stop_on=_Ended)
        except _Ended:
            self.fail(f"the updater ended with {updater.exit_code()} before {what} "
                      f"showed\n{updater.output()}")

    def assert_exit_code(self, updater, expected=0, timeout=config.EXIT_TIMEOUT):
        code = updater.wait_exit(timeout)
        self.assertEqual(code, expected, f"exit code of the updater\n{updater.output()}")

    def assert_files(self, run_dir, expected):
        """The run directory holds exactly these files (relative paths,
        directories with a trailing '/'), the executable included."""
        self.assertEqual(run_dir.files(), sorted(expected))


class _Ended(Exception):
    """The awaited process has ended."""


def main():
    """unittest.main with verbose output, for `python3 test_x.py`."""
    # warnings=False keeps unittest from showing pyatspi's deprecation noise.
    unittest.main(verbosity=int(os.environ.get("E2E_VERBOSITY", "2")), warnings=False)
