#!/usr/bin/python3
"""Leaving while a download runs: the close button and Esc end the program
at once with exit code 0 while the worker sits in a read that never
returns; the partial download file stays until the next start removes it.

The server sends the first 300000 bytes of the body and then holds the
connection open without a word. Run with run_e2e.sh (see there).
"""

import harness
from harness import UpdaterTestCase, config, screen, wait_until

SIZE = 1000000
SENT = 300000
# 300000 bytes in KB as the label shows it (292.96875, rounded).
ALL_SENT = "已下载:292.97KB"
# Ending the program is prompt; this is only a deadline, not a timing.
PROMPT_EXIT = 5


def pattern(size):
    """The bytes of /_/gen/<size>: byte i is i % 251."""
    block = bytes(i % 251 for i in range(251))
    return (block * (size // 251 + 1))[:size]


class ClosingDuringDownloadTest(UpdaterTestCase):

    def start_download(self, run_dir, url):
        """Starts the updater with an offer of url, presses the update button
        and waits until the server's bytes are all in the download file."""
        run_dir.write_handoff(dict(config.OFFER, 下载地=url))
        updater = self.start_updater(run_dir)
        window = self.wait_window(updater)
        # The start removed what an earlier run left.
        self.assertFalse(run_dir.exists(config.DOWNLOAD_FILE), run_dir.files())
        window.press("开始更新")
        wait_until(lambda: window.label("已下载").name == ALL_SENT, 60,
                   lambda: f"{ALL_SENT}; labels: {window.labels()}")
        self.assertEqual(run_dir.read_file(config.DOWNLOAD_FILE), pattern(SENT))
        self.assertIn("正在更新", window.buttons())
        return updater, window

    def assert_partial_file_left(self, run_dir):
        self.assertEqual(run_dir.read_file(config.DOWNLOAD_FILE), pattern(SENT))

    def test_close_button_then_esc_while_the_body_is_held(self):
        server = self.support_server()
        url = server.url(f"/_/gen/{SIZE}?cut={SENT}&after=stall")
        run_dir = self.make_run_dir(None)

        # The close button: the file is still open, so its deletion fails
        # and the part already written stays.
        updater, window = self.start_download(run_dir, url)
        window.press("×")
        self.assert_exit_code(updater, 0, timeout=PROMPT_EXIT)
        self.assert_partial_file_left(run_dir)
        self.assertEqual(run_dir.files(), sorted([config.DOWNLOAD_FILE, "pz/", "tavrix-updater"]))

        # Esc, at the next start (which removes the partial file first): the
        # hand-off file that the product wrote meanwhile goes, the new
        # partial file stays.
        updater, window = self.start_download(run_dir, url)
        run_dir.write_handoff(config.OFFER)
        screen.key(screen.window_id(pid=updater.pid), "Escape")
        self.assert_exit_code(updater, 0, timeout=PROMPT_EXIT)
        self.assertFalse(run_dir.exists("pz/gx.ini"), run_dir.files())
        self.assert_partial_file_left(run_dir)
        self.assertEqual(run_dir.files(), sorted([config.DOWNLOAD_FILE, "pz/", "tavrix-updater"]))

        self.assertEqual([r["path"] for r in server.requests()], [f"/_/gen/{SIZE}"] * 2)


if __name__ == "__main__":
    harness.main()
