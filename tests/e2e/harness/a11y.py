"""Reading and pressing the updater through the accessibility tree (AT-SPI).

What these helpers see is what a screen reader sees: roles, accessible
names, states, places on the screen. Nothing is read from the program's
inside.

The client library caches names and children and would only refresh them
from events, which this process does not dispatch; every read here clears
the cache of the subtree first, so it sees the program as it is now.
"""

import warnings

import pyatspi

from . import config
from .waiting import wait_until

# pyatspi's interface getters call deprecated Atspi functions on every use.
warnings.filterwarnings("ignore", category=DeprecationWarning, module="pyatspi")

MESSAGE_BOX_ROLES = ("alert", "dialog")
TOPLEVEL_ROLES = ("frame", "window", "alert", "dialog")


def _fresh(accessible):
    try:
        accessible.clear_cache()
    except Exception:
        pass
    return accessible


def applications(pid=None):
    """The applications on the accessibility bus, those of pid only if given."""
    desktop = _fresh(pyatspi.Registry.getDesktop(0))
    found = []
    for app in desktop:
        if app is None:
            continue
        try:
            if pid is None or app.get_process_id() == pid:
                found.append(app)
        except Exception:
            continue  # an application that is going away
    return found


def toplevels(pid=None):
    """Top-level windows of pid (or of everyone): frames, dialogs, alerts."""
    found = []
    for app in applications(pid):
        for child in _fresh(app):
            if child is not None and child.getRoleName() in TOPLEVEL_ROLES:
                found.append(child)
    return found


class Node:
    """One accessible as read at one moment."""

    def __init__(self, accessible, depth):
        self.accessible = accessible
        self.depth = depth
        self.role = accessible.getRoleName()
        self.name = accessible.name or ""
        self.states = {pyatspi.stateToString(s) for s in accessible.getState().getStates()}
        try:
            self.extents = tuple(accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS))
        except NotImplementedError:
            self.extents = None

    @property
    def center(self):
        x, y, w, h = self.extents
        return x + w // 2, y + h // 2

    def __repr__(self):
        return f"<{self.role} {self.name!r} at {self.extents} {sorted(self.states)}>"


def walk(accessible, own_process_only=True, max_depth=20):
    """Every accessible below (and including) `accessible`, fresh, depth
    first. With own_process_only the walk does not enter subtrees that live
    in another process (the web view's page lives in WebKit's)."""
    _fresh(accessible)
    pid = accessible.get_process_id() if own_process_only else None
    nodes = []

    def visit(node, depth):
        try:
            if pid is not None and node.get_process_id() != pid:
                return
            nodes.append(Node(node, depth))
            if depth < max_depth:
                for child in node:
                    if child is not None:
                        visit(child, depth + 1)
        except Exception:
            pass  # a node that went away while being read

    visit(accessible, 0)
    return nodes


class Toplevel:
    """A top-level window of the program: the updater's frame or a message
    box. Every query reads the tree anew."""

    def __init__(self, accessible):
        self.accessible = accessible

    @property
    def title(self):
        return _fresh(self.accessible).name or ""

    @property
    def role(self):
        return self.accessible.getRoleName()

    def nodes(self, own_process_only=True):
        return walk(self.accessible, own_process_only)

    def find(self, role=None, name=None, own_process_only=True):
        return [n for n in self.nodes(own_process_only)
                if (role is None or n.role == role) and (name is None or n.name == name)]

    def labels(self):
        """Accessible names of every label, in tree order."""
        return [n.name for n in self.find(role="label")]

    def label(self, prefix):
        """The one label whose name starts with prefix; a failure otherwise."""
        found = [n for n in self.find(role="label") if n.name.startswith(prefix)]
        if len(found) != 1:
            raise AssertionError(f"{len(found)} labels start with {prefix!r}: {self.labels()}")
        return found[0]

    def controls(self):
        """The window's controls, read now, by accessible id (the control's
        name in the window definition: "标签5", "按钮2", "进度条1", ...);
        whatever a control shows, its id stays."""
        found = {}
        for node in self.nodes():
            try:
                key = node.accessible.get_accessible_id()
            except Exception:
                continue
            if key:
                found[key] = node
        return found

    def buttons(self):
        """Push buttons by accessible name."""
        return {n.name: n for n in self.find(role="push button")}

    def button(self, name):
        found = self.find(role="push button", name=name)
        if len(found) != 1:
            raise AssertionError(f"{len(found)} push buttons named {name!r}: {list(self.buttons())}")
        return found[0]

    def press(self, name):
        """Presses a push button by its name, as a screen reader's user would."""
        button = self.button(name)
        button.accessible.queryAction().doAction(0)

    def progress(self):
        """The current value of the one progress bar."""
        bars = self.find(role="progress bar")
        if len(bars) != 1:
            raise AssertionError(f"{len(bars)} progress bars")
        return bars[0].accessible.queryValue().currentValue

    def extents(self):
        """x, y, width, height of the window on the screen."""
        return tuple(_fresh(self.accessible).queryComponent().getExtents(pyatspi.DESKTOP_COORDS))

    def focused(self, own_process_only=False):
        """Nodes that have the focused state (the web view's lives in
        WebKit's process, hence the whole tree by default)."""
        return [n for n in self.nodes(own_process_only) if "focused" in n.states]

    def texts(self):
        """The non-empty label names: the text of a message box."""
        return [name for name in self.labels() if name]

    def alive(self):
        try:
            _fresh(self.accessible).getRoleName()
            return self.accessible.get_process_id() > 0
        except Exception:
            return False

    def describe(self):
        return "\n".join("  " * n.depth + repr(n) for n in self.nodes(False))


def window_now(pid, title=config.WINDOW_TITLE):
    """The showing frame titled `title` of process pid, or None."""
    for top in toplevels(pid):
        if top.getRoleName() == "frame" and top.name == title \
                and top.getState().contains(pyatspi.STATE_SHOWING):
            return Toplevel(top)
    return None


def find_window(pid, title=config.WINDOW_TITLE, timeout=config.START_TIMEOUT):
    """The frame titled `title` of process pid, once it exists and shows."""
    return wait_until(lambda: window_now(pid, title), timeout,
                      f"a window titled {title!r} of pid {pid}")


def message_boxes(pid):
    """The message boxes (alerts and dialogs) that pid shows now."""
    return [Toplevel(t) for t in toplevels(pid) if t.getRoleName() in MESSAGE_BOX_ROLES
            and t.getState().contains(pyatspi.STATE_SHOWING)]


def message_box_now(pid, title=None):
    """The one message box of pid (titled `title` if given), or None."""
    boxes = [b for b in message_boxes(pid) if title is None or b.title == title]
    return boxes[0] if len(boxes) == 1 else None


def find_message_box(pid, title=None, timeout=config.START_TIMEOUT):
    """The one message box of pid (titled `title` if given), once it shows."""
    return wait_until(lambda: message_box_now(pid, title), timeout,
                      f"a message box {title or ''} of pid {pid}")


def press_ok(box):
    """Presses the message box's one button (its OK)."""
    buttons = box.buttons()
    if len(buttons) != 1:
        raise AssertionError(f"a message box with buttons {list(buttons)}")
    next(iter(buttons.values())).accessible.queryAction().doAction(0)
