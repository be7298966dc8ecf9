#!/usr/bin/python3
"""Fault matrix, bad input in the hand-off file: a file of 1 MB, one of
random bytes, values of 10 KB and more (the reader keeps 10239 bytes of a
value), one cut in the middle of a two-byte character, a hand-off file that
is a link, a pipe or a folder, download addresses that must not be fetched,
and one of 100 KB. After each row the product has a whole executable, the
run directory holds what it should, and no process is left
(fault_rows.FaultCase.assert_outcome).

Run with run_e2e.sh (see there).
"""

import os
import random

import fault_rows  # first: the mount namespace is taken before any thread
import harness
from fault_rows import LEFT, OLD, OPEN_URL_FAILED, TMP, FaultCase, pattern
from harness import a11y, config, encode_handoff

SIZE = 70000
KEPT = 10239  # bytes of a value the reader keeps


class HandoffInputTest(FaultCase):

    def expect_offer(self, run_dir, latest="2.73"):
        """The window with the offer; the hand-off file is consumed; the
        close button ends it."""
        updater, window = self.start(run_dir)
        self.assertIn("最新版本号:" + latest, window.labels())
        self.assertFalse(run_dir.exists("pz/gx.ini"))
        window.press("×")
        self.assert_outcome(run_dir, updater, OLD, LEFT)

    def expect_notice(self, run_dir, files=LEFT):
        updater = self.start_updater(run_dir)
        box = self.wait_message_box(updater, config.NOTICE_TITLE)
        self.assertEqual(box.texts(), [config.NO_UPDATE_TEXT])
        a11y.press_ok(box)
        self.assert_outcome(run_dir, updater, OLD, files)

    def test_a_hand_off_file_of_1_mb(self):
        # A megabyte of another section's keys, the offer at its end.
        filler = {f"键{i}": "值" * 40 for i in range(12000)}
        data = encode_handoff(filler, section="其他") + encode_handoff(self.offer("http://127.0.0.1:9/x"))
        self.assertGreater(len(data), 1 << 20)
        run_dir = self.make_run_dir(data)
        self.put_old(run_dir)
        self.expect_offer(run_dir)

    def test_a_hand_off_file_of_random_bytes(self):
        noise = random.Random(20261211).randbytes(256 * 1024)
        with self.subTest("noise alone: nothing on offer"):
            run_dir = self.make_run_dir(noise)
            self.put_old(run_dir)
            self.expect_notice(run_dir)
        with self.subTest("noise, then the offer on a line of its own"):
            run_dir = self.make_run_dir(noise + b"\r\n" + encode_handoff(
                self.offer("http://127.0.0.1:9/x")))
            self.put_old(run_dir)
            self.expect_offer(run_dir)

    def test_hand_off_files_that_are_no_plain_file(self):
        # A link is read through and removed as a link; a pipe must not hang
        # the start; a folder is neither read nor removed.
        with self.subTest("a link to a file outside"):
            run_dir = self.make_run_dir(None)
            self.put_old(run_dir)
            outside = os.path.join(run_dir.root, "offer.ini")
            with open(outside, "wb") as out:
                out.write(encode_handoff(self.offer("http://127.0.0.1:9/x")))
            run_dir.make_dir("pz")
            os.symlink(outside, run_dir.handoff_path)
            self.expect_offer(run_dir)
            self.assertTrue(os.path.isfile(outside))
        with self.subTest("a named pipe"):
            run_dir = self.make_run_dir(None)
            self.put_old(run_dir)
            run_dir.make_dir("pz")
            os.mkfifo(run_dir.handoff_path)
            self.expect_notice(run_dir)
        with self.subTest("a folder"):
            run_dir = self.make_run_dir(None)
            self.put_old(run_dir)
            run_dir.make_dir("pz/gx.ini")
            self.expect_notice(run_dir, LEFT + ["pz/gx.ini/"])

    def test_values_of_10_kb_are_cut_and_the_update_still_goes(self):
        # The version shows cut to its first 10239 bytes, in the labels and
        # the download banner; an executable name of that length names no
        # process and no file, and the installation goes on.
        server = self.serve()
        version = "2.73" + "1" * 10300
        run_dir = self.prepare(server.url(f"/_/gen/{SIZE}"), name="n" * 10300, 版本=version)
        updater, window = self.start(run_dir)
        labels = window.labels()
        self.assertIn("最新版本号:" + version[:KEPT], labels)
        local = [n for n in labels if n.startswith("本地版本号:")]
        self.assertEqual(len(local), 1, labels)
        self.assertTrue(local[0].startswith("本地版本号:2.72"), local)
        self.press_update(window)
        self.wait_installed(updater, window)
        self.assertIn("正在下载:Tavrix V" + version[:KEPT], window.labels())
        window.press("×")
        self.assert_outcome(run_dir, updater, pattern(SIZE), LEFT)

    def test_a_value_cut_inside_a_two_byte_character(self):
        # 10239 bytes of "版" x 6000 end in the first byte of a character:
        # the whole characters show; the half one shows as nothing or one
        # replacement character, never as anything else.
        run_dir = self.prepare("http://127.0.0.1:9/x", 版本="版" * 6000)
        updater, window = self.start(run_dir)
        found = [n for n in window.labels() if n.startswith("最新版本号:")]
        self.assertEqual(len(found), 1, window.labels())
        self.assertIn(found[0], ["最新版本号:" + "版" * 5119,
                                 "最新版本号:" + "版" * 5119 + "\ufffd"])
        window.press("×")
        self.assert_outcome(run_dir, updater, OLD, LEFT)

    def test_addresses_that_must_not_be_fetched(self):
        # Only HTTP and HTTPS are fetched, also at the end of a redirect:
        # nothing local is read into the product's place, no file is made.
        server = self.serve()
        dead = self.dead_port()
        for url in ["file:///etc/hostname",
                    server.url("/_/redirect/1?to=file:///etc/hostname"),
                    "ftp://127.0.0.1:9/Tavrix.exe",
                    f"http://{dead.host}/Tavrix.exe",
                    ""]:
            with self.subTest(url=url):
                self.expect_refused_address(url)

    def test_a_download_address_of_100_kb_is_cut_and_still_fetched(self):
        # The address cut at 10239 bytes still names the file (only the
        # padding is shorter) and is sent exactly so.
        server = self.serve()
        url = server.url(f"/_/gen/{SIZE}?pad=") + "x" * 100000
        run_dir = self.prepare(url)
        updater, window = self.start(run_dir)
        self.press_update(window)
        self.wait_installed(updater, window)
        origin = server.url("")
        self.assertEqual([r["target"] for r in server.requests()], [url[len(origin):KEPT]])
        window.press("×")
        self.assert_outcome(run_dir, updater, pattern(SIZE), LEFT)


if __name__ == "__main__":
    harness.main()
