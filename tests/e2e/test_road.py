#!/usr/bin/python3
"""The road of one update, seen from outside: the update button, the
progress display moving during a real download, the running product ended,
the new executable in place, the launch of the new version; and the roads
that stop short (a download that fails, an install that cannot rename).

A local server serves the new version (the stand-in product 2.73); the
product that runs is the stand-in 2.72, copied into the run directory and
started from there. Run with run_e2e.sh (see there).
"""

import math
import os
import re
import stat

import harness
from harness import UpdaterTestCase, a11y, config, products, screen, wait_until

NEW_VERSION = "2.73"
OLD_VERSION = "2.72"
DONE = "下载完成！"
UPDATING = "正在更新"
LAUNCH = "启动Tavrix"
MESSAGE_TITLE = "信息："
LEFT_AFTER_INSTALL = ["Tavrix.exe", "pz/", "tavrix-updater"]
# The panel's blank strip (window-relative): a drag there moves the window.
BLANK = (2 + 340, 170 + 160)
# A product name no other test on this machine uses: ending a product by
# name looks at every process of the system, and another test's updater
# ending "Tavrix.exe" must not hit a product whose survival is checked here.
OWN_NAME = f"Tavrix{os.getpid()}.exe"
# How long a download of a few hundred KB may take on a busy machine.
ROAD_TIMEOUT = 60
# Ending the program is prompt; this is only a deadline, not a timing.
PROMPT_EXIT = 5


def kb(count):
    """count bytes in KB as the labels write it: rounded half away from zero
    to two decimals (after a bias of 1e-12), no trailing zeros."""
    scaled = count / 1024 * 100 + 1e-12
    whole = math.floor(scaled)
    rounded = (whole + (1 if scaled - whole >= 0.5 else 0)) / 100
    return f"{rounded:.2f}".rstrip("0").rstrip(".")


def read_file(path):
    with open(path, "rb") as source:
        return source.read()


def enabled(node):
    return "sensitive" in node.states and "enabled" in node.states


class Snapshot:
    """What the window shows at one moment: each control's name and states
    by its id, and the progress bar's value."""

    def __init__(self, window):
        self.controls = window.controls()
        bar = self.controls["进度条1"].accessible.queryValue()
        self.progress = bar.currentValue
        self.progress_max = bar.maximumValue

    def text(self, control):
        return self.controls[control].name

    def button(self):
        return self.controls["按钮2"]


class RoadCase(UpdaterTestCase):
    """Shared steps: a run directory with the old product and an offer, the
    new version on a local server."""

    def serve_new_version(self, query=""):
        """The server and the download address of the new version's bytes."""
        server = self.support_server()
        data = read_file(products.product_binary(NEW_VERSION))
        server.put_file("Tavrix-2.73.exe", data)
        return server, server.url("/_/file/Tavrix-2.73.exe" + query), data

    def prepare(self, url, name="Tavrix.exe"):
        run_dir = self.make_run_dir(dict(config.OFFER, 文件名=name, 下载地=url))
        products.install_product(run_dir, OLD_VERSION)
        return run_dir

    def start_product(self, run_dir, name="Tavrix.exe", title=None):
        """The old product, running, its window up."""
        product = super().start_product(run_dir, name, title)
        a11y.find_window(product.pid, title or f"Tavrix V{OLD_VERSION}")
        return product

    def first_of_its_name(self, product, name="Tavrix.exe"):
        """The product must be the first process of its name on the machine,
        or ending by name would hit someone else's: another test's product
        with a lower id is waited out."""
        def lowest_is_ours():
            found = products.pids_named(name)
            return found and found[0] == product.pid
        wait_until(lowest_is_ours, 30,
                   lambda: f"pid {product.pid} to be the first process named {name}: "
                           f"{products.pids_named(name)}")

    def press_update(self, window):
        """Presses "开始更新"; the button reads "正在更新" and is grey at once
        (a quick download may have made it the launch button already)."""
        window.press("开始更新")

        def pressed():
            found = [b for name, b in window.buttons().items() if name in (UPDATING, LAUNCH)]
            return found[0] if found else None
        button = wait_until(pressed, 5, lambda: f"the button to read {UPDATING}: "
                                                f"{list(window.buttons())}")
        if button.name == UPDATING:
            self.assertFalse(enabled(button), button)
        self.assertNotIn("开始更新", window.buttons())
        return button

    def wait_done(self, window, updater):
        def done():
            if a11y.message_boxes(updater.pid):
                raise AssertionError("a message box")
            return Snapshot(window).text("标签5") == DONE
        try:
            wait_until(done, ROAD_TIMEOUT, "the download to complete", stop_on=AssertionError)
        except AssertionError as error:
            boxes = [(b.title, b.texts()) for b in a11y.message_boxes(updater.pid)]
            self.fail(f"{error}; message boxes: {boxes}\n{updater.output()}")
        return Snapshot(window)

    def assert_installed(self, window, run_dir, data, others=()):
        """The completion display, and the new executable as the one file
        besides the updater."""
        shown = Snapshot(window)
        self.assertEqual(shown.text("标签5"), DONE)
        self.assertEqual(shown.button().name, LAUNCH)
        self.assertTrue(enabled(shown.button()), shown.button())
        self.assertEqual(shown.progress, shown.progress_max)
        self.assertEqual(run_dir.files(), sorted(LEFT_AFTER_INSTALL + list(others)))
        self.assertEqual(run_dir.read_file("Tavrix.exe"), data)
        self.assertEqual(stat.S_IMODE(os.stat(run_dir.file("Tavrix.exe")).st_mode), 0o755)

    def wait_ended(self, product):
        wait_until(lambda: not product.running(), 10,
                   lambda: f"product pid {product.pid} to be ended; processes of its name: "
                           f"{products.pids_named(os.path.basename(product.path))}")


class WholeRoadTest(RoadCase):

    def test_update_with_moving_progress_then_launch(self):
        # About three seconds of download, so the labels can be watched.
        size = os.path.getsize(products.product_binary(NEW_VERSION))
        server, url, data = self.serve_new_version(f"?rate={size // 3}")
        run_dir = self.prepare(url)
        product = self.start_product(run_dir)
        updater = self.start_updater(run_dir)
        window = self.wait_window(updater)
        self.first_of_its_name(product)

        self.assertEqual(self.press_update(window).name, UPDATING)
        # A second press on the grey button starts nothing.
        window.press(UPDATING)

        seen = []

        def watch():
            shown = Snapshot(window)
            seen.append(shown)
            return shown.text("标签5") == DONE
        wait_until(watch, ROAD_TIMEOUT, lambda: f"the download to complete; last labels: "
                   f"{[n.name for n in seen[-1].controls.values()] if seen else None}")

        # Controls are read one after another, so a snapshot taken as the
        # download ends may mix the last report with the completion.
        for shown in seen:
            self.assertIn(shown.button().name, (UPDATING, LAUNCH))
            self.assertEqual(enabled(shown.button()), shown.button().name == LAUNCH)
        during = [s for s in seen if s.text("标签5") != DONE and s.button().name == UPDATING
                  and s.text("标签7") != "已下载:0KB"]
        received = [float(re.fullmatch(r"已下载:([0-9.]+)KB", s.text("标签7")).group(1))
                    for s in during]
        self.assertGreaterEqual(len(set(received)), 2, f"已下载 while downloading: {received}")
        self.assertEqual(received, sorted(received), "已下载 never goes back")
        self.assertTrue(all(0 < r <= float(kb(size)) for r in received), received)
        percents = [s.text("标签5") for s in during]
        self.assertTrue([p for p in percents if re.fullmatch(r"下载进度:[1-9][0-9]?(\.[0-9]+)?%", p)],
                        f"a percentage between 0 and 100 while downloading: {percents}")
        self.assertTrue([s for s in during if 0 < s.progress < s.progress_max],
                        [s.progress for s in during])
        for shown in during:
            with self.subTest(labels=[n.name for n in shown.controls.values()]):
                self.assertEqual(shown.text("标签4"), f"正在下载:Tavrix V{NEW_VERSION}")
                self.assertEqual(shown.text("标签6"), f"文件大小:{kb(size)}KB")
                self.assertRegex(shown.text("标签8"), r"^所用时间:[0-9]+秒$")
                self.assertRegex(shown.text("标签9"), r"^下载速度:[0-9.]+KB/s$")
                self.assertRegex(shown.text("标签10"), r"^剩余时间:[0-9]+时[0-9]+分[0-9]+秒$")

        self.wait_ended(product)
        self.assert_installed(window, run_dir, data)
        # The last report counted every byte.
        self.assertEqual(Snapshot(window).text("标签7"), f"已下载:{kb(size)}KB")
        self.assertEqual([r["path"] for r in server.requests()], ["/_/file/Tavrix-2.73.exe"])

        # The launch: the new version from the run directory, on its own.
        window.press(LAUNCH)
        self.assert_exit_code(updater, 0, timeout=PROMPT_EXIT)
        title = f"Tavrix V{NEW_VERSION}"

        def new_product():
            found = [t.get_process_id() for t in a11y.toplevels()
                     if t.getRoleName() == "frame" and t.name == title]
            return found[0] if len(found) == 1 else None
        pid = wait_until(new_product, config.START_TIMEOUT, f"a window titled {title!r}")
        self.assertEqual(os.path.realpath(products.executable_of(pid)),
                         os.path.realpath(run_dir.file("Tavrix.exe")))
        self.assertEqual(os.path.realpath(f"/proc/{pid}/cwd"), os.path.realpath(run_dir.path))
        self.assertEqual(products.session_of(pid), pid, "the product leads a session of its own")
        self.assertTrue(harness.process_exists(pid), "the product outlives the updater")
        self.assertEqual(run_dir.files(), LEFT_AFTER_INSTALL)


class WhichProcessTest(RoadCase):

    def test_name_in_other_letter_case(self):
        server, url, data = self.serve_new_version()
        run_dir = self.prepare(url, name="tavrix.EXE")
        product = self.start_product(run_dir)
        updater = self.start_updater(run_dir)
        window = self.wait_window(updater)
        self.first_of_its_name(product)

        self.press_update(window)
        self.wait_done(window, updater)
        self.wait_ended(product)
        self.assert_installed(window, run_dir, data)
        window.press("×")
        self.assert_exit_code(updater, 0, timeout=PROMPT_EXIT)

    def test_of_two_products_only_the_first_is_ended(self):
        # The old executable has a name of its own: it is deleted once the
        # new one is in place, while the second product still runs from it.
        server, url, data = self.serve_new_version()
        run_dir = self.make_run_dir(dict(config.OFFER, 文件名=OWN_NAME, 下载地=url))
        products.install_product(run_dir, OLD_VERSION, name=OWN_NAME)
        one = self.start_product(run_dir, OWN_NAME)
        two = self.start_product(run_dir, OWN_NAME)
        first, second = sorted((one, two), key=lambda p: p.pid)
        updater = self.start_updater(run_dir)
        window = self.wait_window(updater)

        self.press_update(window)
        self.wait_done(window, updater)
        self.wait_ended(first)
        self.assertTrue(second.running(), "the second product keeps running")
        self.assert_installed(window, run_dir, data)

        window.press("×")
        self.assert_exit_code(updater, 0, timeout=PROMPT_EXIT)
        self.assertTrue(second.running(), "the second product outlives the updater")

    def test_product_found_by_its_window_title(self):
        # The hand-off file names the window (other letter case), not the
        # executable: only the search by title can find the process.
        title = "Tavrix 主窗口 V2.72"
        server, url, data = self.serve_new_version()
        run_dir = self.prepare(url, name="TAVRIX 主窗口 v2.72")
        product = self.start_product(run_dir, title=title)
        products.install_product(run_dir, OLD_VERSION, name=OWN_NAME)
        bystander = self.start_product(run_dir, OWN_NAME)  # titled otherwise
        updater = self.start_updater(run_dir)
        window = self.wait_window(updater)

        self.press_update(window)
        self.wait_done(window, updater)
        self.wait_ended(product)
        self.assertTrue(bystander.running(), "a process of another title keeps running")
        self.assert_installed(window, run_dir, data, others=[OWN_NAME])

        window.press("×")
        self.assert_exit_code(updater, 0, timeout=PROMPT_EXIT)


class FailedRoadTest(RoadCase):

    def expect_message_then_stuck(self, run_dir, url, message, product, move_window=False):
        """Starts the updater with an offer of url, presses the update button
        and expects `message` in a box of its own; afterwards nothing has
        moved and the button stays grey. Leaves by the close button."""
        run_dir.write_handoff(dict(config.OFFER, 文件名=OWN_NAME, 下载地=url))
        updater = self.start_updater(run_dir)
        window = self.wait_window(updater)
        before = read_file(run_dir.file(OWN_NAME))

        self.press_update(window)
        box = self.wait_message_box(updater, MESSAGE_TITLE, timeout=ROAD_TIMEOUT)
        self.assertEqual(box.texts(), [message])
        self.assertEqual(list(box.buttons()), ["OK"])
        # The window stays usable while the box is up: read, and dragged.
        self.assertEqual(window.label("最新版本号").name, f"最新版本号:{NEW_VERSION}")
        if move_window:
            x, y = window.extents()[:2]
            start = (x + BLANK[0], y + BLANK[1])
            screen.drag(start, (start[0] + 30, start[1] + 20))
            wait_until(lambda: window.extents()[:2] == (x + 30, y + 20), 10,
                       lambda: f"the window to follow a drag while the box is up: "
                               f"{window.extents()[:2]}, not {(x + 30, y + 20)}")
            self.assertTrue(box.alive())

        a11y.press_ok(box)
        wait_until(lambda: not a11y.message_boxes(updater.pid), 10, "the box to go")
        shown = Snapshot(window)
        self.assertEqual(shown.button().name, UPDATING)
        self.assertFalse(enabled(shown.button()))
        self.assertEqual(shown.text("标签5"), "下载进度：")  # no report came
        self.assertTrue(product.running(), f"the product keeps running ({product.process.returncode})")
        self.assertEqual(read_file(run_dir.file(OWN_NAME)), before)
        self.assertEqual(stat.S_IMODE(os.stat(run_dir.file(OWN_NAME)).st_mode), 0o755)
        self.assertEqual(run_dir.files(), sorted([OWN_NAME, "pz/", "tavrix-updater"]))
        self.assertTrue(updater.running())

        window.press("×")
        self.assert_exit_code(updater, 0, timeout=PROMPT_EXIT)
        self.assertTrue(product.running())

    def test_a_failed_download_changes_nothing(self):
        server = self.support_server()
        dead = self.dead_port()
        run_dir = self.make_run_dir(None)
        products.install_product(run_dir, OLD_VERSION, name=OWN_NAME)
        product = self.start_product(run_dir, OWN_NAME)
        cases = [
            ("a closed port", f"http://{dead.host}/Tavrix.exe"),
            ("a name that does not resolve", "http://tavrix-update.invalid/Tavrix.exe"),
            ("404", server.url("/Tavrix.exe")),
        ]
        for index, (what, url) in enumerate(cases):
            with self.subTest(what):
                self.expect_message_then_stuck(run_dir, url, "不能打开该URL!", product,
                                               move_window=index == 0)

    def test_an_install_that_cannot_rename_keeps_the_old_executable(self):
        # "Tavrix.exe" is a folder: the download cannot be renamed onto it.
        server, url, data = self.serve_new_version()
        run_dir = self.make_run_dir(dict(config.OFFER, 文件名="Tavrix-old.exe", 下载地=url))
        old = products.install_product(run_dir, OLD_VERSION, name="Tavrix-old.exe")
        run_dir.write_file("Tavrix.exe/keep", b"a folder in the way")
        product = self.start_product(run_dir, "Tavrix-old.exe")
        self.first_of_its_name(product, "Tavrix-old.exe")
        updater = self.start_updater(run_dir)
        window = self.wait_window(updater)

        self.press_update(window)
        box = self.wait_message_box(updater, MESSAGE_TITLE, timeout=ROAD_TIMEOUT)
        self.assertEqual(box.texts(), ["安装新版本出错!"])
        a11y.press_ok(box)
        wait_until(lambda: not a11y.message_boxes(updater.pid), 10, "the box to go")

        shown = Snapshot(window)
        self.assertEqual(shown.button().name, UPDATING)
        self.assertFalse(enabled(shown.button()))
        self.assertNotEqual(shown.text("标签5"), DONE)
        self.wait_ended(product)
        # The old executable is kept, the whole download waits beside it.
        self.assertEqual(read_file(old), read_file(products.product_binary(OLD_VERSION)))
        self.assertEqual(run_dir.read_file(config.DOWNLOAD_FILE), data)
        self.assertEqual(run_dir.files(), sorted([config.DOWNLOAD_FILE, "Tavrix-old.exe",
                                                  "Tavrix.exe/", "Tavrix.exe/keep", "pz/",
                                                  "tavrix-updater"]))
        window.press("×")
        self.assert_exit_code(updater, 0, timeout=PROMPT_EXIT)


if __name__ == "__main__":
    harness.main()
