#!/usr/bin/python3
"""Fault matrix, the network side: a body that breaks off or stalls, a
Content-Length that lies either way, error statuses with a page for a body,
a redirect loop. After each row the product has a whole executable, the run
directory holds what it should, and no process is left
(fault_rows.FaultCase.assert_outcome).

Run with run_e2e.sh (see there).
"""

import unittest

import fault_rows  # first: the mount namespace is taken before any thread
import harness
from fault_rows import (INSTALL_FAILED, LEFT, OLD, OPEN_URL_FAILED, READ_FAILED, TMP,
                        FaultCase, pattern)
from harness import screen, wait_until

SIZE = 300000


class BrokenBodyTest(FaultCase):

    def test_a_body_that_breaks_off_is_a_read_error_and_installs_nothing(self):
        # The server announces more than it sends (Content-Length too long,
        # then close or reset), or ends a chunked body without its last chunk.
        server = self.serve()
        cases = [
            ("?cut=100000&after=close", "escape"),
            ("?cut=100000&after=reset", "button"),
            ("?framing=chunked&chunk=8192&cut=100000&after=close", "button"),
        ]
        for query, close in cases:
            with self.subTest(query):
                run_dir = self.prepare(server.url(f"/_/gen/{SIZE}{query}"))
                updater, window = self.start(run_dir)
                self.press_update(window)
                self.expect_message(updater, window, READ_FAILED)
                partial = run_dir.read_file(TMP)
                self.assertLessEqual(len(partial), 100000)
                self.assertEqual(partial, pattern(SIZE)[:len(partial)])
                if close == "escape":
                    # The will-be-destroyed path keeps the partial file for
                    # the next start to remove.
                    screen.key(screen.window_id(pid=updater.pid), "Escape")
                    self.assert_outcome(run_dir, updater, OLD, LEFT + [TMP])
                    self.restart_clears(run_dir)
                    self.assertEqual(run_dir.files(), sorted(LEFT))
                else:
                    # The close button removes it: the download file is closed.
                    window.press("×")
                    self.assert_outcome(run_dir, updater, OLD, LEFT)

    def test_a_body_longer_than_its_content_length(self):
        # The response ends where its Content-Length says; what the server
        # sends beyond it is no part of the body, and the updater installs
        # exactly the announced bytes.
        body = pattern(80000)
        server = self.raw_server(b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                                 b"Content-Length: 50000\r\nConnection: close\r\n\r\n" + body)
        run_dir = self.prepare(server.url())
        updater, window = self.start(run_dir)
        self.press_update(window)
        self.wait_installed(updater, window)
        self.assertIn("文件大小:48.83KB", window.labels())
        window.press("×")
        self.assert_outcome(run_dir, updater, body[:50000], LEFT)

    def test_a_body_without_a_length_that_breaks_off(self):
        # Without a length or chunks, HTTP marks the end of a body by the
        # close: a close in the middle cannot be told from the end, and what
        # came is installed (only a checksum in the hand-off file could tell).
        # A reset is no end: a read error.
        server = self.serve()
        url = server.url(f"/_/gen/{SIZE}?framing=none&cut=100000&after=")
        run_dir = self.prepare(url + "close")
        updater, window = self.start(run_dir)
        self.press_update(window)
        self.wait_installed(updater, window)
        window.press("×")
        self.assert_outcome(run_dir, updater, pattern(100000), LEFT)

        run_dir = self.prepare(url + "reset")
        updater, window = self.start(run_dir)
        self.press_update(window)
        self.expect_message(updater, window, READ_FAILED)
        window.press("×")
        self.assert_outcome(run_dir, updater, OLD, LEFT)

    def test_content_lengths_that_cannot_be_right(self):
        # Each answer as the server sends it, and what must follow: the
        # message, or the bytes installed.
        def answer(headers, body):
            return b"HTTP/1.1 200 OK\r\n" + headers + b"Connection: close\r\n\r\n" + body
        cases = [
            # beyond 2 GiB, read as a negative 32-bit length; the body is short
            ("3000000000", answer(b"Content-Length: 3000000000\r\n", pattern(50000)), READ_FAILED),
            # 2^32 + 100: its low 32 bits would be the body's length
            ("2^32+100", answer(b"Content-Length: 4294967396\r\n", pattern(100)), READ_FAILED),
            ("negative", answer(b"Content-Length: -1\r\n", pattern(100)), OPEN_URL_FAILED),
            ("no number", answer(b"Content-Length: abc\r\n", pattern(100)), OPEN_URL_FAILED),
            ("no HTTP at all", b"garbage\r\n\r\n" + pattern(100), OPEN_URL_FAILED),
            # chunked framing wins over a length, as HTTP has it
            ("chunked and a length", answer(b"Transfer-Encoding: chunked\r\nContent-Length: 10\r\n",
                                            b"64\r\n" + pattern(100) + b"\r\n0\r\n\r\n"),
             pattern(100)),
        ]
        for name, raw, outcome in cases:
            with self.subTest(name):
                self.expect_answer(raw, outcome)

    def test_two_different_content_lengths_are_refused(self):
        # The framing is ambiguous, and HTTP says to discard such a response.
        self.expect_answer(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\nContent-Length: 200\r\n"
                           b"Connection: close\r\n\r\n" + pattern(200), OPEN_URL_FAILED)

    def test_an_empty_body_is_not_installed(self):
        # "Content-Length: 0" and nothing else: an empty file is no program.
        # The running product is not ended for it either.
        server = self.raw_server(b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n"
                                 b"Connection: close\r\n\r\n")
        run_dir, product, old = self.prepare_with_product(server.url())
        updater, window = self.start(run_dir)
        self.press_update(window)
        self.expect_message(updater, window, INSTALL_FAILED)
        self.assertEqual(run_dir.read_file(TMP), b"")
        self.assertIsNone(product.poll())
        window.press("×")
        self.assert_outcome(run_dir, updater, old, LEFT, keep_pids=[product.pid])

    def expect_answer(self, raw, outcome):
        """One start against a server that answers `raw`; outcome is the
        failure message expected, or the bytes expected in Tavrix.exe."""
        server = self.raw_server(raw)
        run_dir = self.prepare(server.url())
        updater, window = self.start(run_dir)
        self.press_update(window)
        ended = self.settle(updater, window)
        if isinstance(outcome, bytes):
            self.assertIsNone(ended, "a failure was shown")
            self.wait_installed(updater, window)
            window.press("×")
            self.assert_outcome(run_dir, updater, outcome, LEFT)
            return
        self.expect_message(updater, window, outcome)
        window.press("×")
        self.assert_outcome(run_dir, updater, OLD, LEFT)

    def test_a_stalled_body_leaves_the_window_usable_and_a_close_ends_it(self):
        # The stall limit is a minute; the row holds the stall, checks that the
        # window still answers, and closes.
        server = self.serve()
        run_dir = self.prepare(server.url(f"/_/gen/{SIZE}?cut=60000&after=stall"))
        updater, window = self.start(run_dir)
        self.press_update(window)
        self.wait_progress(window, 58.0)  # 60000 bytes are 58.59 KB
        self.assertIn("已下载:58.59KB", [n.split("\r")[0] for n in window.labels()])

        # The window still moves under a drag while the worker waits.
        x, y = window.extents()[:2]
        start = (x + 2 + 340, y + 170 + 160)
        screen.drag(start, (start[0] + 30, start[1] + 20))
        wait_until(lambda: window.extents()[:2] == (x + 30, y + 20), 10, "the window to move")
        self.assert_stuck_updating(window)

        window.press("×")
        # The download file was still open: its deletion fails, the partial
        # file stays for the next start.
        self.assert_outcome(run_dir, updater, OLD, LEFT + [TMP])
        self.assertEqual(run_dir.read_file(TMP), pattern(60000))
        self.restart_clears(run_dir)

    def test_the_stall_limit_gives_up(self):
        # With the updater's clocks run fast the minute passes in seconds: a
        # stall after some of the body is a read error, one before any of it
        # (or a server that never answers) means the URL could not be opened.
        server = self.serve()
        cases = [
            (f"/_/gen/{SIZE}?cut=60000&after=stall", READ_FAILED, pattern(60000)),
            (f"/_/gen/{SIZE}?cut=0&after=stall", OPEN_URL_FAILED, None),
            ("/_/hang", OPEN_URL_FAILED, None),
        ]
        for path, message, partial in cases:
            with self.subTest(path):
                run_dir = self.prepare(server.url(path))
                updater = self.start_updater(run_dir, env=self.faster_clock())
                window = self.wait_window(updater)
                self.press_update(window)
                self.expect_message(updater, window, message)
                if partial is None:
                    self.assertFalse(run_dir.exists(TMP))
                else:
                    self.assertEqual(run_dir.read_file(TMP), partial)
                window.press("×")
                self.assert_outcome(run_dir, updater, OLD, LEFT)

    def test_a_stall_before_the_first_byte_creates_no_file(self):
        # Headers, then nothing: the download file is created only with the
        # first byte of the body. Esc ends the program at once.
        server = self.serve()
        run_dir = self.prepare(server.url(f"/_/gen/{SIZE}?cut=0&after=stall"))
        updater, window = self.start(run_dir)
        self.press_update(window)
        wait_until(lambda: server.requests(), 20, "the request to arrive")
        self.assertFalse(run_dir.exists(TMP))
        screen.key(screen.window_id(pid=updater.pid), "Escape")
        self.assert_outcome(run_dir, updater, OLD, LEFT)


class RefusedDownloadTest(FaultCase):

    PAGE = ("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>出错了</title></head>"
            "<body><h1>出错了</h1><p>请稍后再试。</p></body></html>").encode()

    def test_error_statuses_with_a_page_for_a_body(self):
        # The page must not become the product: no download file at all.
        server = self.serve()
        server.put_file("error.html", self.PAGE)
        for status in (404, 500, 503):
            with self.subTest(status=status):
                self.expect_refused_address(server.url(
                    f"/_/file/error.html?status={status}&type=text/html%3B%20charset%3Dutf-8"))

    def test_a_redirect_loop_gives_up(self):
        server = self.serve()
        # The first request and ten redirects followed, no more.
        self.expect_refused_address(server.url("/_/loop"), server, ["/_/loop"] * 11)


if __name__ == "__main__":
    harness.main()
