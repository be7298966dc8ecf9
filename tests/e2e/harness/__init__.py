"""The end-to-end harness: the real updater in a run directory of its own,
under a virtual display, read and driven through the accessibility tree.

Import from here:  from harness import UpdaterTestCase, config, screen, ...
Run a test file with tests/e2e/run_e2e.sh (see there).
"""

from . import a11y, config, products, screen
from .a11y import Toplevel, find_message_box, find_window, press_ok
from .case import UpdaterTestCase, main
from .processes import UpdaterProcess, end_children, process_exists, spawn
from .rundir import RunDir, encode_handoff
from .servers import DeadPort, LogServer, SupportServer
from .waiting import WaitTimeout, wait_until

__all__ = [
    "a11y", "config", "products", "screen", "Toplevel", "find_message_box", "find_window", "press_ok",
    "UpdaterTestCase", "main", "UpdaterProcess", "end_children", "process_exists", "spawn",
    "RunDir", "encode_handoff", "DeadPort", "LogServer", "SupportServer",
    "WaitTimeout", "wait_until",
]
