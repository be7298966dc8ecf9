#!/usr/bin/python3
"""Fault matrix, the ways out at each stage: the close button, Esc and
SIGTERM before the update, during the download, during the installation
(held at the rename that puts the download in place, and after it, at the
removal of the old executable) and after it.

The close button removes the download file (which fails while a download
holds it) and leaves a hand-off file; Esc and SIGTERM (a close request) take
the will-be-destroyed path, which removes a hand-off file and leaves the
download file for the next start. Every way ends the program at once with
exit code 0. After each row the product has a whole executable, the run
directory holds what it should, and no process is left
(fault_rows.FaultCase.assert_outcome).

Run with run_e2e.sh (see there).
"""

import os
import signal
import stat

import fault_rows  # first: the mount namespace is taken before any thread
import harness
from fault_rows import LEFT, OLD, OWN_NAME, TMP, UNLINKS, FaultCase, pattern
from harness import config, screen, wait_until

SIZE = 200000
NEW = pattern(SIZE)
# How long a trap holds the installation at one step: long enough for a
# close to come first. A thread held by strace is not ended by the process's
# exit until strace lets it go (and then it ends before the call is made), so
# the updater's exit is awaited for this long more, once its own part ended
# at once.
HOLD_SECONDS = 5
HOLD = f"delay_enter={HOLD_SECONDS * 1000000}"


def close_button(updater, window):
    window.press("×")


def escape(updater, window):
    screen.key(screen.window_id(pid=updater.pid), "Escape")


def terminate(updater, window):
    updater.send_signal(signal.SIGTERM)


WAYS = [close_button, escape, terminate]


class ClosingAtEachStageTest(FaultCase):

    def run_stage(self, url, reach, expect, old_file=False, held=False):
        """For each way out: a run directory offering url, the updater
        brought to the stage by reach(updater, window, run_dir), a marker
        hand-off file written, the way taken; expect(way, run_dir) gives the
        content of Tavrix.exe and the files left besides a hand-off file.
        With old_file the product's old executable also lies there under the
        name the hand-off file gives; held tells that a trap holds the
        installation."""
        for way in WAYS:
            with self.subTest(way.__name__):
                run_dir = self.prepare(url)
                if old_file:
                    run_dir.write_file(OWN_NAME, b"the product as it ran before")
                updater, window = self.start(run_dir)
                reach(updater, window, run_dir)
                # Tells the two paths apart: only the close button keeps it.
                run_dir.write_handoff(dict(config.OFFER, 更新="0"))
                way(updater, window)
                exit_timeout = fault_rows.PROMPT_EXIT
                if held:
                    wait_until(lambda: fault_rows.main_thread_ended(updater.pid),
                               fault_rows.PROMPT_EXIT, "the program to end")
                    exit_timeout += HOLD_SECONDS
                exe, files = expect(way, run_dir)
                if way is close_button:
                    files = files + ["pz/gx.ini"]
                self.assert_outcome(run_dir, updater, exe, files, exit_timeout=exit_timeout)
                if TMP in files:
                    self.restart_clears(run_dir)

    def test_before_the_update(self):
        self.run_stage(self.serve().url(f"/_/gen/{SIZE}"),
                       lambda updater, window, run_dir: None,
                       lambda way, run_dir: (OLD, LEFT))

    def test_during_the_download(self):
        # The server holds the download in its middle: the close comes there.
        # The file is open, so even the close button cannot remove it.
        def reach(updater, window, run_dir):
            self.press_update(window)
            wait_until(lambda: run_dir.exists(TMP) and len(run_dir.read_file(TMP)) == SIZE // 2,
                       fault_rows.DOWNLOAD_TIMEOUT, "half of the download")

        def expect(way, run_dir):
            self.assertEqual(run_dir.read_file(TMP), NEW[:SIZE // 2])
            return OLD, LEFT + [TMP]
        self.run_stage(self.held_server(NEW, SIZE // 2).url(), reach, expect)

    def test_during_the_installation_before_the_rename(self):
        # The download is complete and closed, the installation is held at
        # the rename: the close button removes the download, the other ways
        # leave it whole; "Tavrix.exe" is the old one either way.
        def reach(updater, window, run_dir):
            trap = self.trap_rename(updater, run_dir, HOLD)
            self.press_update(window)
            wait_until(trap.entered, fault_rows.DOWNLOAD_TIMEOUT, "the rename to be reached")
            self.assertEqual(run_dir.read_file(TMP), NEW)
            self.assertEqual(stat.S_IMODE(os.stat(run_dir.file(TMP)).st_mode), 0o755)

        def expect(way, run_dir):
            if way is close_button:
                return OLD, LEFT
            self.assertEqual(run_dir.read_file(TMP), NEW)
            return OLD, LEFT + [TMP]
        self.run_stage(self.serve().url(f"/_/gen/{SIZE}"), reach, expect, held=True)

    def test_during_the_installation_after_the_rename(self):
        # The new executable is in place, the old one (by another name) is
        # about to be removed: it stays, nothing else is lost.
        def reach(updater, window, run_dir):
            trap = self.trap(updater, run_dir, [OWN_NAME], UNLINKS, HOLD)
            self.press_update(window)
            wait_until(trap.entered, fault_rows.DOWNLOAD_TIMEOUT,
                       "the old executable's removal to be reached")

        def expect(way, run_dir):
            return NEW, LEFT + [OWN_NAME]

        self.run_stage(self.serve().url(f"/_/gen/{SIZE}"), reach, expect, old_file=True,
                       held=True)

    def test_after_the_installation(self):
        # The product is not started by any of them.
        def reach(updater, window, run_dir):
            self.press_update(window)
            self.wait_installed(updater, window)
        self.run_stage(self.serve().url(f"/_/gen/{SIZE}"), reach,
                       lambda way, run_dir: (NEW, LEFT))


if __name__ == "__main__":
    harness.main()
