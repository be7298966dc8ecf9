"""The X side: window ids, keys, close requests, drags, screenshots, pixels.

Coordinates are screen pixels, the same as AT-SPI's DESKTOP_COORDS. Every
helper acts on $DISPLAY unless given another display name.
"""

import ctypes
import os
import select
import subprocess
import tempfile
import time

from . import config
from .processes import spawn, stop_process
from .waiting import wait_until


def _env(display):
    env = dict(os.environ)
    if display:
        env["DISPLAY"] = display
    return env


def xdotool(*args, display=None, check=True):
    """Runs xdotool; its standard output as text."""
    result = subprocess.run(["xdotool", *map(str, args)], env=_env(display),
                            capture_output=True, text=True, timeout=30)
    if check and result.returncode != 0:
        raise RuntimeError(f"xdotool {' '.join(map(str, args))}: {result.stderr.strip()}")
    return result.stdout


# Windows --------------------------------------------------------------

def window_ids(title=config.WINDOW_TITLE, display=None, pid=None):
    """X ids of the mapped windows named exactly `title` (of pid if given)."""
    args = ["search", "--onlyvisible", "--name", f"^{title}$"]
    if pid is not None:
        # xdotool matches any one condition unless told --all.
        args[1:1] = ["--all", "--pid", pid]
    out = xdotool(*args, display=display, check=False)
    return [int(line) for line in out.split()]


def window_id(title=config.WINDOW_TITLE, display=None, pid=None, timeout=config.START_TIMEOUT):
    """The one mapped window named `title`, once there is exactly one."""
    found = wait_until(lambda: (lambda ids: ids if len(ids) == 1 else None)(
        window_ids(title, display, pid)), timeout, f"one X window named {title!r}")
    return found[0]


def window_geometry(window, display=None):
    """x, y, width, height of an X window."""
    values = {}
    for line in xdotool("getwindowgeometry", "--shell", window, display=display).split():
        key, _, value = line.partition("=")
        values[key] = int(value)
    return values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]


def focused_window(display=None):
    out = xdotool("getwindowfocus", "-f", display=display, check=False).strip()
    return int(out) if out.isdigit() else None


def focus(window, display=None, timeout=10):
    """Gives an X window the input focus (there is no window manager)."""
    xdotool("windowfocus", window, display=display)
    wait_until(lambda: focused_window(display) == window, timeout,
               f"X focus on window {window}")


def key(window, *keys, display=None, activate=True):
    """Sends key presses to a window (xdotool key --window). GTK takes keys
    only in the active window, and with no window manager nothing makes a
    window active by itself: activate gives it the X focus first."""
    if activate:
        focus(window, display)
    xdotool("key", "--window", window, *keys, display=display)


def type_keys(*keys, display=None):
    """Key presses through the X test extension, to whatever has the focus."""
    xdotool("key", *keys, display=display)


def destroy_window(window, display=None):
    """xdotool windowclose: the window is destroyed from outside."""
    xdotool("windowclose", window, display=display)


class _ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("client", _ClientMessage), ("pad", ctypes.c_long * 24)]


def request_close(window, display=None):
    """A close request as a window manager sends it: WM_DELETE_WINDOW."""
    xlib = ctypes.CDLL("libX11.so.6")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XInternAtom.restype = ctypes.c_ulong
    xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    xlib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                ctypes.c_long, ctypes.POINTER(_XEvent)]
    xlib.XFlush.argtypes = [ctypes.c_void_p]
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    name = (display or os.environ["DISPLAY"]).encode()
    dpy = xlib.XOpenDisplay(name)
    if not dpy:
        raise RuntimeError(f"cannot open display {name!r}")
    try:
        event = _XEvent()
        event.client.type = 33  # ClientMessage
        event.client.window = window
        event.client.message_type = xlib.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
        event.client.format = 32
        event.client.data[0] = xlib.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
        event.client.data[1] = 0  # CurrentTime
        if not xlib.XSendEvent(dpy, window, 0, 0, ctypes.byref(event)):
            raise RuntimeError("XSendEvent failed")
        xlib.XFlush(dpy)
    finally:
        xlib.XCloseDisplay(dpy)


# The mouse ------------------------------------------------------------

def mouse_move(x, y, display=None):
    xdotool("mousemove", x, y, display=display)


def click(x, y, display=None):
    xdotool("mousemove", x, y, "click", 1, display=display)


def drag(start, end, steps=6, display=None):
    """Presses the left button at start, moves in steps to end, releases.

    The moves are as a hand makes them; whether the window followed is for
    the caller to wait for (its position is the condition).
    """
    (x0, y0), (x1, y1) = start, end
    args = ["mousemove", x0, y0, "mousedown", 1]
    for i in range(1, steps + 1):
        args += ["mousemove", x0 + (x1 - x0) * i // steps, y0 + (y1 - y0) * i // steps]
    args += ["mouseup", 1]
    xdotool(*args, display=display)


# Screenshots ----------------------------------------------------------

class Image:
    """An RGB picture of the screen; pixel(x, y) gives (r, g, b)."""

    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def pixel(self, x, y):
        if not (0 <= x < self.width and 0 <= y < self.height):
            raise IndexError(f"pixel {x},{y} outside {self.width}x{self.height}")
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def pixels(self, box):
        """(x, y, colour) of every pixel in box = (x, y, width, height)."""
        bx, by, bw, bh = box
        for y in range(max(by, 0), min(by + bh, self.height)):
            for x in range(max(bx, 0), min(bx + bw, self.width)):
                yield x, y, self.pixel(x, y)

    def find(self, box, colour, tolerance=40):
        """The first pixel in box whose colour is within tolerance (per
        channel) of colour, as (x, y); None if there is none."""
        for x, y, found in self.pixels(box):
            if near(found, colour, tolerance):
                return x, y
        return None

    def count(self, box, colour, tolerance=40):
        return sum(1 for _, _, found in self.pixels(box) if near(found, colour, tolerance))

    def colours(self, box):
        """How often each colour occurs in box, most frequent first."""
        tally = {}
        for _, _, found in self.pixels(box):
            tally[found] = tally.get(found, 0) + 1
        return sorted(tally.items(), key=lambda item: -item[1])

    def save(self, path):
        with open(path, "wb") as out:
            out.write(b"P6\n%d %d\n255\n" % (self.width, self.height))
            out.write(self.rgb)


def near(a, b, tolerance):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b))


def parse_ppm(data):
    """An Image from binary PPM (P6) bytes, 8 or 16 bits per sample."""
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6":
        raise ValueError("not a binary PPM")
    width, height, maxval = int(fields[1]), int(fields[2]), int(fields[3])
    body = data[pos + 1:]
    if maxval < 256:
        rgb = bytes(body[:width * height * 3])
    else:  # two bytes per sample, big-endian: keep the high byte
        rgb = bytes(body[0:width * height * 6:2])
    return Image(width, height, rgb)


def screenshot(display=None, save_as=None):
    """The whole screen now (ImageMagick's import of the root window)."""
    with tempfile.NamedTemporaryFile(suffix=".ppm") as shot:
        subprocess.run(["import", "-window", "root", "-depth", "8", f"ppm:{shot.name}"],
                       env=_env(display), check=True, capture_output=True, timeout=60)
        image = parse_ppm(shot.read())
    if save_as:
        image.save(save_as)
    return image


def read_picture(path):
    """Any picture file (PNG, JPEG, ...) as an Image, through ImageMagick."""
    data = subprocess.run(["/usr/bin/convert", path, "-depth", "8", "ppm:-"],
                          capture_output=True, check=True, timeout=60).stdout
    return parse_ppm(data)


# Extra displays -------------------------------------------------------

class VirtualDisplay:
    """A second Xvfb of a given size (e.g. "1024x768x24"), for a test that
    needs another screen than the run's. The session's accessibility bus
    serves it too. close() ends it."""

    def __init__(self, screen):
        read_end, write_end = os.pipe()
        self.process = spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", screen,
                              "-nolisten", "tcp", "-noreset"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             pass_fds=(write_end,))
        os.close(write_end)
        # The server writes its display number once it is ready.
        number = ""
        with os.fdopen(read_end, "rb", buffering=0) as reader:
            deadline = time.monotonic() + 30
            while not number.endswith("\n") and time.monotonic() < deadline:
                ready, _, _ = select.select([reader], [], [], max(0.0, deadline - time.monotonic()))
                chunk = reader.read(64) if ready else b""
                if not chunk:
                    break
                number += chunk.decode()
        number = number.strip()
        if not number.isdigit():
            self.close()
            raise RuntimeError(f"Xvfb {screen} did not start")
        self.name = f":{number}"

    def close(self):
        stop_process(self.process)
