#!/usr/bin/python3
"""The updater's window as a user and a screen reader meet it: its place,
its controls' texts and places, the ways to close it, dragging, the Tab
order, the update-log page, and what it looks like on the screen.

Every check reads the real program through the accessibility tree, the X
server or a screenshot. Run with run_e2e.sh (see there).
"""

import os
import signal

import harness
from harness import UpdaterTestCase, config, screen, wait_until

WIDTH, HEIGHT = 500, 430
PANEL = (2, 170)  # the white panel's place in the window

# Accessible role, name, and place (left, top, width, height) within the
# window of every control a user sees, with an offer of version 2.73.
CONTROLS = [
    ("label", "下载进度：", (169, 116, 184, 16)),
    ("label", "本地版本号:2.72", (PANEL[0] + 352, PANEL[1] + 8, 104, 16)),
    ("label", "最新版本号:2.73", (PANEL[0] + 352, PANEL[1] + 27, 104, 16)),
    ("label", "正在下载", (PANEL[0] + 353, PANEL[1] + 48, 117, 18)),
    ("label", "文件大小:0KB", (PANEL[0] + 354, PANEL[1] + 68, 113, 16)),
    ("label", "已下载:0KB", (PANEL[0] + 354, PANEL[1] + 88, 113, 16)),
    ("label", "所用时间:0秒", (PANEL[0] + 354, PANEL[1] + 108, 113, 16)),
    ("label", "下载速度:0KB/S", (PANEL[0] + 354, PANEL[1] + 128, 113, 16)),
    ("label", "剩余时间:", (PANEL[0] + 355, PANEL[1] + 201, 116, 16)),
    ("push button", "×", (481, 3, 16, 16)),
    ("progress bar", "", (2, 402, 433, 26)),
    ("push button", "开始更新", (438, 402, 60, 26)),
]

# Colours the window promises.
FALLBACK = (244, 255, 244)
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
RED = (255, 0, 0)
ORANGE = (255, 128, 0)
FLAT_BUTTON = (128, 160, 128)


def relative(extents, origin):
    x, y, w, h = extents
    return x - origin[0], y - origin[1], w, h


class WindowTest(UpdaterTestCase):

    def start_with_offer(self, log_host=None, display=None):
        run_dir = self.make_run_dir(config.OFFER)
        updater = self.start_updater(run_dir, log_host=log_host, display=display)
        return run_dir, updater, self.wait_window(updater)

    def test_place_size_and_controls(self):
        log = self.log_server()
        _, updater, window = self.start_with_offer(log.host)

        self.assertEqual(window.title, config.WINDOW_TITLE)
        # Centred on 1366x768: ((1366 - 500) / 2, (768 - 430) / 2).
        self.assertEqual(window.extents(), (433, 169, WIDTH, HEIGHT))
        x_window = screen.window_id(pid=updater.pid)
        self.assertEqual(screen.window_geometry(x_window), (433, 169, WIDTH, HEIGHT))

        origin = window.extents()[:2]
        nodes = window.nodes()
        for role, name, place in CONTROLS:
            with self.subTest(control=name or role):
                found = [n for n in nodes if n.role == role and n.name == name]
                self.assertEqual(len(found), 1, f"{role} {name!r} in\n{window.describe()}")
                self.assertEqual(relative(found[0].extents, origin), place)
                self.assertIn("showing", found[0].states)
        self.assertEqual(window.progress(), 0)

        # The edit box that carries the executable's name is never seen.
        shown_entries = [n for n in nodes if n.role in ("text", "entry", "password text")
                         and "showing" in n.states]
        self.assertEqual(shown_entries, [])
        # No other label or button than those above shows.
        expected = {(role, name) for role, name, _ in CONTROLS}
        extra = [n for n in nodes if n.role in ("label", "push button")
                 and "showing" in n.states and (n.role, n.name) not in expected]
        self.assertEqual(extra, [])

    def test_centred_on_a_smaller_screen(self):
        display = self.virtual_display("1024x768x24")
        _, updater, window = self.start_with_offer(display=display.name)
        self.assertEqual(window.extents(), (262, 169, WIDTH, HEIGHT))
        x_window = screen.window_id(display=display.name, pid=updater.pid)
        self.assertEqual(screen.window_geometry(x_window, display=display.name),
                         (262, 169, WIDTH, HEIGHT))

    def test_each_way_of_closing_ends_the_program_with_0(self):
        # The close button removes a download file and leaves a hand-off
        # file; every close request does the opposite.
        def press_escape(updater, window):
            screen.key(screen.window_id(pid=updater.pid), "Escape")

        def press_close_button(updater, window):
            window.press("×")

        def wm_close_request(updater, window):
            screen.request_close(screen.window_id(pid=updater.pid))

        def destroy_from_outside(updater, window):
            screen.destroy_window(screen.window_id(pid=updater.pid))

        def terminate(updater, window):
            updater.send_signal(signal.SIGTERM)

        cases = [
            # way, removes the hand-off file, removes the download file
            (press_escape, True, False),
            (press_close_button, False, True),
            (wm_close_request, True, False),
            (destroy_from_outside, True, False),
            (terminate, None, None),
        ]
        for close, removes_handoff, removes_download in cases:
            with self.subTest(close.__name__):
                run_dir, updater, window = self.start_with_offer()
                run_dir.write_handoff(config.OFFER)
                run_dir.write_file(config.DOWNLOAD_FILE, b"partial")
                close(updater, window)
                self.assert_exit_code(updater, 0)
                if removes_handoff is not None:
                    self.assertEqual(not run_dir.exists("pz/gx.ini"), removes_handoff,
                                     f"hand-off file removed: {run_dir.files()}")
                    self.assertEqual(not run_dir.exists(config.DOWNLOAD_FILE), removes_download,
                                     f"download file removed: {run_dir.files()}")

    def test_dragging(self):
        _, updater, window = self.start_with_offer()

        def place():
            return window.extents()[:2]

        def drag_at(point, delta):
            """Drags from point (window-relative) by delta; returns where the
            window now should be if the drag moved it."""
            x, y = place()
            start = (x + point[0], y + point[1])
            screen.drag(start, (start[0] + delta[0], start[1] + delta[1]))

        def moves(point, delta, what):
            before = place()
            drag_at(point, delta)
            expected = (before[0] + delta[0], before[1] + delta[1])
            wait_until(lambda: place() == expected, 10,
                       lambda: f"a drag on {what} to move the window to {expected}, "
                               f"it is at {place()}")

        def stays(point, delta, what):
            before = place()
            drag_at(point, delta)
            # The X server hands events over in order: once a later drag on
            # the panel has moved the window, this one has been handled too.
            blank = (PANEL[0] + 340, PANEL[1] + 160)
            drag_at(blank, (12, 9))
            expected = (before[0] + 12, before[1] + 9)
            try:
                wait_until(lambda: place() == expected, 10, "the panel drag that follows")
            except AssertionError:
                self.fail(f"a drag on {what} moved the window from {before}; "
                          f"it is at {place()}, not {expected}")

        # The panel's blank strip between the web view and the labels.
        moves((PANEL[0] + 340, PANEL[1] + 160), (40, 30), "the panel")
        moves((PANEL[0] + 352 + 30, PANEL[1] + 68 + 8), (-30, -20), "a label in the panel")
        moves((2 + 200, 402 + 13), (-20, 25), "the progress bar")
        moves((60, 40), (15, -25), "the picture")
        # Released away from it, so the press is no click.
        stays((438 + 30, 402 + 13), (-50, -40), "the update button")
        stays((150, 170 + 100), (30, 20), "the web view")
        buttons = window.buttons()
        self.assertIn("开始更新", buttons)
        self.assertEqual(harness.a11y.message_boxes(updater.pid), [])

    def test_tab_reaches_only_the_web_view_and_the_close_button(self):
        log = self.log_server()  # its page has a link, which Tab can show
        _, updater, window = self.start_with_offer(log.host)
        log.wait_for_request()
        wait_until(lambda: [n for n in window.nodes(own_process_only=False) if n.role == "link"],
                   config.START_TIMEOUT, "the update-log page's link")
        screen.focus(screen.window_id(pid=updater.pid))

        def focus_owner():
            """Who has the focus: "×", "page" (something in the web view's
            page), "web view" (none of our own controls reports it: the web
            view holds it without a focused element), or the control."""
            found = window.focused()
            own = [n for n in found if n.accessible.get_process_id() == updater.pid]
            if not found:
                return "web view"
            if not own:
                return "page"
            if len(own) == 1 and own[0].name == "×" and len(found) == 1:
                return "×"
            return repr(found)

        reached = []
        for _ in range(8):
            before = focus_owner()
            screen.type_keys("Tab")
            # Steps inside the web view may look alike; a step that shows no
            # change is recorded as it stands after a short wait.
            try:
                owner = wait_until(lambda: (lambda o: o if o != before else None)(focus_owner()),
                                   3, "the focus to move")
            except AssertionError:
                owner = focus_owner()
            reached.append(owner)
        self.assertLessEqual(set(reached), {"×", "page", "web view"},
                             f"focus after each Tab: {reached}")
        self.assertIn("×", reached, f"focus after each Tab: {reached}")
        self.assertIn("page", reached, f"focus after each Tab: {reached}")

    def test_update_log_page(self):
        log = self.log_server()
        _, updater, window = self.start_with_offer(log.host)
        first = log.wait_for_request()
        self.assertEqual(first["path"], config.UPDATE_LOG_PATH)
        # The page shows, its Chinese text intact.
        wait_until(lambda: [n for n in window.nodes(own_process_only=False)
                            if n.role.startswith("document") and n.name == "更新日志"],
                   config.START_TIMEOUT, lambda: f"the update-log page in\n{window.describe()}")
        self.assertEqual(set(log.paths()), {config.UPDATE_LOG_PATH})

    def test_unreachable_update_log_brings_no_message(self):
        _, updater, window = self.start_with_offer(self.dead_port().host)
        # The web view has shown whatever it shows for a page it cannot reach.
        wait_until(lambda: [n for n in window.nodes(own_process_only=False)
                            if n.role.startswith("document")],
                   config.START_TIMEOUT, lambda: f"the web view's document in\n{window.describe()}")
        self.assertEqual(harness.a11y.message_boxes(updater.pid), [])
        self.assertTrue(updater.running())
        self.assertEqual(window.extents(), (433, 169, WIDTH, HEIGHT))

    def test_what_the_screen_shows(self):
        log = self.log_server()
        _, updater, window = self.start_with_offer(log.host)
        log.wait_for_request()
        screen.mouse_move(0, 0)  # no hover on the close button
        picture = screen.read_picture(os.path.join(config.SOURCE_DIR, "assets", "background.jpg"))
        wx, wy, _, _ = window.extents()

        def box(x, y, w, h):
            return wx + x, wy + y, w, h

        def check(shot):
            problems = []
            # The picture's top band, one copy from the top-left corner.
            band = [(x, y) for x in range(5, 470, 23) for y in range(4, 78, 9)]
            off = [(x, y) for x, y in band
                   if not screen.near(shot.pixel(wx + x, wy + y), picture.pixel(x, y), 24)]
            if len(off) > len(band) // 10:
                problems.append(f"top band differs from the picture at {off[:5]}")
            if all(screen.near(shot.pixel(wx + x, wy + y), FALLBACK, 3) for x, y in band):
                problems.append("top band shows only the fallback colour")
            # The white panel: its strip between the web view and the labels.
            strip = box(PANEL[0] + 332, PANEL[1] + 150, 18, 45)
            if shot.count(strip, WHITE, 0) != 18 * 45:
                problems.append(f"panel strip not white: {shot.colours(strip)[:3]}")
            # Label texts: black, 标签2 red, 标签5 orange over the picture.
            for name, colour, (x, y, w, h) in (
                    ("标签1", BLACK, (PANEL[0] + 352, PANEL[1] + 8, 104, 16)),
                    ("标签2", RED, (PANEL[0] + 352, PANEL[1] + 27, 104, 16)),
                    ("标签5", ORANGE, (169, 116, 184, 16))):
                if shot.find(box(x, y, w, h), colour, 48) is None:
                    problems.append(f"no {colour} text in {name}: {shot.colours(box(x, y, w, h))[:4]}")
            # The flat close button: its background and a white caption.
            flat = box(481, 3, 16, 16)
            if shot.count(flat, FLAT_BUTTON, 3) < 16 * 16 // 2:
                problems.append(f"close button background: {shot.colours(flat)[:4]}")
            if shot.find(flat, WHITE, 60) is None:
                problems.append(f"close button caption not white: {shot.colours(flat)[:4]}")
            return problems

        last = []

        def looks_right():
            last[:] = check(screen.screenshot())
            return not last
        try:
            wait_until(looks_right, 20, "the window to be painted")
        except AssertionError:
            shot = os.path.join(os.environ.get("E2E_ARTIFACTS", "/tmp"), "tavrix-window.ppm")
            screen.screenshot(save_as=shot)
            self.fail("; ".join(last) + f" (screenshot: {shot})")


if __name__ == "__main__":
    harness.main()
