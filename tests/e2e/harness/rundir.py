"""A run directory: a fresh folder holding a copy of the updater.

The updater takes the folder of its own executable as its run directory, so
each test gets a folder of its own with the executable copied in, and the
hand-off file pz/gx.ini written the way the product writes it: code page 936.
"""

import os
import shutil
import tempfile

from . import config

EXECUTABLE_NAME = "tavrix-updater"


def encode_handoff(values, section=config.HANDOFF_SECTION, newline="\r\n",
                   encoding="gbk"):
    """The bytes of an INI file with one section holding `values` in order.

    A value of None leaves its key out. Texts are encoded in code page 936,
    as the product writes them.
    """
    lines = [f"[{section}]"]
    for key, value in values.items():
        if value is not None:
            lines.append(f"{key}={value}")
    return (newline.join(lines) + newline).encode(encoding)


class RunDir:
    """A temporary run directory, removed by cleanup().

    dir_name is the last part of the run directory's path (it may hold
    characters that code page 936 lacks); the folder above it is private.
    """

    def __init__(self, executable=None, dir_name="run"):
        executable = executable or config.UPDATER
        if not executable or not os.path.isfile(executable):
            raise FileNotFoundError(
                f"the updater executable is missing: {executable!r} "
                "(set TAVRIX_UPDATER or pass --updater to run_e2e.sh)")
        self.root = tempfile.mkdtemp(prefix="tavrix-e2e-")
        self.path = os.path.join(self.root, dir_name)
        os.mkdir(self.path)
        self.executable = os.path.join(self.path, EXECUTABLE_NAME)
        shutil.copy2(executable, self.executable)

    # Files -------------------------------------------------------------

    def file(self, relative):
        """The OS path of a file inside the run directory (UTF-8 name)."""
        return os.path.join(self.path, relative)

    def exists(self, relative):
        return os.path.lexists(self.file(relative))

    def write_file(self, relative, data=b""):
        path = self.file(relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data.encode() if isinstance(data, str) else data)
        return path

    def make_dir(self, relative):
        path = self.file(relative)
        os.makedirs(path, exist_ok=True)
        return path

    def read_file(self, relative):
        with open(self.file(relative), "rb") as source:
            return source.read()

    def files(self):
        """Every file below the run directory, as sorted relative paths,
        directories with a trailing '/', the executable included."""
        found = []
        for folder, dirs, names in os.walk(self.path):
            relative = os.path.relpath(folder, self.path)
            prefix = "" if relative == "." else relative + "/"
            found.extend(prefix + d + "/" for d in dirs)
            found.extend(prefix + n for n in names)
        return sorted(found)

    # The hand-off file -------------------------------------------------

    @property
    def handoff_path(self):
        return self.file("pz/gx.ini")

    def write_handoff(self, values=None, **options):
        """Writes pz/gx.ini: from a dict of keys (section "配置"), or from raw
        bytes as they stand. options go to encode_handoff."""
        if values is None:
            values = config.OFFER
        data = values if isinstance(values, bytes) else encode_handoff(values, **options)
        return self.write_file("pz/gx.ini", data)

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)
