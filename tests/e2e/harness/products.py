"""Stand-in products: the product's executable put into a run directory
under the name the updater knows it by, and started from there.

The stand-in is build/tavrix-product-<version> (a small window titled
"Tavrix V<version>"), found beside the updater executable under test.
"""

import os
import shutil
import signal
import string
import subprocess

from . import config
from .processes import process_exists, spawn

PRODUCT_NAME = "Tavrix.exe"
_ASCII_LOWER = str.maketrans(string.ascii_uppercase, string.ascii_lowercase)


def product_binary(version):
    """The built stand-in product of that version."""
    path = os.path.join(os.path.dirname(os.path.abspath(config.UPDATER)),
                        f"tavrix-product-{version}")
    if not os.path.isfile(path):
        raise FileNotFoundError(f"the stand-in product is missing: {path}")
    return path


def install_product(run_dir, version="2.72", name=PRODUCT_NAME):
    """Copies the stand-in product into the run directory as `name`, mode
    0755; its OS path."""
    path = run_dir.file(name)
    shutil.copyfile(product_binary(version), path)
    os.chmod(path, 0o755)
    return path


class Product:
    """A product process started from a file in the run directory."""

    def __init__(self, path, title=None, env=None, cwd=None):
        environment = dict(os.environ)
        environment.pop("TAVRIX_PRODUCT_TITLE", None)
        if title is not None:
            environment["TAVRIX_PRODUCT_TITLE"] = title
        environment.update(env or {})
        self.path = path
        self.process = spawn([path], env=environment, cwd=cwd or os.path.dirname(path),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.pid = self.process.pid

    def running(self):
        """True while the process has not ended (a zombie has ended)."""
        self.process.poll()
        return self.process.returncode is None and process_exists(self.pid)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
        self.process.wait(timeout=10)


def executable_of(pid):
    """The OS path of the executable that pid runs, or None."""
    try:
        return os.readlink(f"/proc/{pid}/exe")
    except OSError:
        return None


def session_of(pid):
    """The session id of pid, or None when it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return int(stat.read().rsplit(")", 1)[1].split()[3])
    except (OSError, IndexError, ValueError):
        return None


def pids_named(name):
    """Every live process, ascending by id, whose executable's file name is
    `name` without regard to ASCII letter case: the processes that ending a
    product by that name chooses among."""
    wanted = name.translate(_ASCII_LOWER)
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or not process_exists(entry):
            continue
        path = executable_of(entry)
        if path is None:
            continue
        if path.endswith(" (deleted)"):
            path = path[:-len(" (deleted)")]
        if os.path.basename(path).translate(_ASCII_LOWER) == wanted:
            found.append(int(entry))
    return sorted(found)
