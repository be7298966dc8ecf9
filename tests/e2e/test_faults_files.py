#!/usr/bin/python3
"""Fault matrix, the file side: a disk that fills up, a read-only run
directory, a link planted at the download file, an executable that cannot
be replaced or that a running product holds, old-executable names that are
paths, two updaters on one run directory, and the updater killed between
the download and the rename. After each row the product has a whole
executable, the run directory holds what it should, and no process is left
(fault_rows.FaultCase.assert_outcome).

Run with run_e2e.sh (see there).
"""

import os
import signal
import subprocess

import fault_rows  # first: the mount namespace is taken before any thread
import harness
from fault_rows import (EXE, INSTALL_FAILED, LAUNCH, LEFT, LOCAL_FILE_FAILED, OLD,
                        OPEN_URL_FAILED, OWN_NAME, TMP, UPDATING, WRITE_FAILED, FaultCase,
                        pattern)
from harness import a11y, config, screen, wait_until

SIZE = 200000
NEW = pattern(SIZE)


class FileSystemFaultTest(FaultCase):

    def test_the_disk_fills_up_during_the_download(self):
        server = self.serve()
        run_dir = self.prepare(server.url("/_/gen/2000000"))
        self.mount_tmpfs_run_dir(run_dir, free=256 * 1024)
        updater, window = self.start(run_dir)
        self.press_update(window)
        self.expect_message(updater, window, WRITE_FAILED)
        partial = run_dir.read_file(TMP)
        self.assertLess(len(partial), 2000000)
        self.assertEqual(partial, pattern(len(partial)))
        self.assertEqual(run_dir.read_file(EXE), OLD)
        window.press("×")
        self.assert_outcome(run_dir, updater, OLD, LEFT)

    def test_a_read_only_run_directory(self):
        # Root ignores permission bits; a read-only mount stops root too. The
        # offer is still read; nothing can be written or removed.
        server = self.serve()
        run_dir = self.prepare(server.url(f"/_/gen/{SIZE}"))
        self.make_read_only(run_dir)
        updater, window = self.start(run_dir)
        self.assertIn("最新版本号:2.73", window.labels())
        self.press_update(window)
        self.expect_message(updater, window, LOCAL_FILE_FAILED)
        screen.key(screen.window_id(pid=updater.pid), "Escape")
        self.assert_outcome(run_dir, updater, OLD, LEFT + ["pz/gx.ini"])

    def test_a_link_at_the_download_file_is_never_followed(self):
        server = self.serve()
        run_dir = self.prepare(server.url(f"/_/gen/{SIZE}"))
        victim = os.path.join(run_dir.root, "victim")
        with open(victim, "wb") as out:
            out.write(b"not the updater's to touch")
        # One left before the start is removed as a link by the start-up.
        os.symlink(victim, run_dir.file(TMP))
        updater, window = self.start(run_dir)
        self.assertFalse(run_dir.exists(TMP))
        # One planted while the window waits refuses the download.
        os.symlink(victim, run_dir.file(TMP))
        self.press_update(window)
        self.expect_message(updater, window, LOCAL_FILE_FAILED)
        self.assertTrue(os.path.islink(run_dir.file(TMP)))
        window.press("×")  # removes the link, not what it points to
        self.assert_outcome(run_dir, updater, OLD, LEFT)
        with open(victim, "rb") as source:
            self.assertEqual(source.read(), b"not the updater's to touch")

    def test_an_executable_that_cannot_be_replaced(self):
        # An immutable "Tavrix.exe" refuses the rename, also to root: the
        # failure is shown, the old executable stays, the download is kept
        # as it was until the close button removes it.
        server = self.serve()
        run_dir = self.prepare(server.url(f"/_/gen/{SIZE}"))
        if subprocess.run(["chattr", "+i", run_dir.file(EXE)], capture_output=True).returncode:
            self.skipTest("this file system has no immutable files")
        self.addCleanup(subprocess.run, ["chattr", "-i", run_dir.file(EXE)], capture_output=True)
        updater, window = self.start(run_dir)
        self.press_update(window)
        self.expect_message(updater, window, INSTALL_FAILED)
        self.assertEqual(run_dir.read_file(TMP), NEW)
        self.assertNotIn("下载完成！", window.labels())
        window.press("×")
        self.assert_outcome(run_dir, updater, OLD, LEFT)


class ProductFileTest(FaultCase):

    def test_a_running_product_holding_its_executable(self):
        # The product runs from "Tavrix.exe" (its window titled by that
        # name, so the updater finds this one on this display), and another
        # process has the file open: the rename replaces the name all the
        # same, and the holder keeps reading the old file.
        server = self.serve()
        run_dir, product, old_product = self.prepare_with_product(server.url(f"/_/gen/{SIZE}"))
        held = open(run_dir.file(EXE), "rb")
        self.addCleanup(held.close)

        updater, window = self.start(run_dir)
        self.press_update(window)
        self.wait_installed(updater, window)
        wait_until(lambda: product.poll() is not None, 10, "the product to be ended")
        self.assertEqual(product.returncode, -signal.SIGKILL)
        self.assertEqual(held.read(), old_product)
        window.press("×")
        self.assert_outcome(run_dir, updater, NEW, LEFT)

    def test_an_executable_that_is_a_link_to_a_file_outside(self):
        # The new executable takes the link's place; the file it pointed to
        # is not written through it.
        server = self.serve()
        run_dir = self.prepare(server.url(f"/_/gen/{SIZE}"))
        outside = os.path.join(run_dir.root, "linked-product")
        os.replace(run_dir.file(EXE), outside)
        os.symlink(outside, run_dir.file(EXE))
        updater, window = self.start(run_dir)
        self.press_update(window)
        self.wait_installed(updater, window)
        window.press("×")
        self.assert_outcome(run_dir, updater, NEW, LEFT)
        with open(outside, "rb") as source:
            self.assertEqual(source.read(), OLD)

    def test_the_old_executable_by_another_name_goes_when_it_is_not_running(self):
        server = self.serve()
        run_dir = self.prepare(server.url(f"/_/gen/{SIZE}"))
        run_dir.write_file(OWN_NAME, b"the product as it ran before")
        updater, window = self.start(run_dir)
        self.press_update(window)
        self.wait_installed(updater, window)
        window.press("×")
        self.assert_outcome(run_dir, updater, NEW, LEFT)

    def test_old_executable_names_that_are_no_plain_file_of_the_run_directory(self):
        # The name from the hand-off file never reaches out of the run
        # directory, nor removes a folder; the installation happens anyway.
        server = self.serve()
        url = server.url(f"/_/gen/{SIZE}")
        for name, victim in [
                ("../victim", "../victim"),
                ("{root}/outside", "../outside"),
                ("a\\b", "a/b"),
                ("", None),
                (".", None),
                ("..", None),
                ("pz", None),
                ("link.exe", "../linked")]:
            with self.subTest(name=name):
                run_dir = self.make_run_dir(None)
                self.put_old(run_dir)
                name = name.format(root=run_dir.root)
                run_dir.write_handoff(self.offer(url, name=name))
                victim_path = None
                if victim is not None:
                    victim_path = os.path.normpath(run_dir.file(victim))
                    os.makedirs(os.path.dirname(victim_path), exist_ok=True)
                    with open(victim_path, "wb") as out:
                        out.write(b"keep me")
                if name == "link.exe":
                    os.symlink(victim_path, run_dir.file(name))
                expected = LEFT + (["a/", "a/b"] if name == "a\\b" else [])
                updater, window = self.start(run_dir)
                self.press_update(window)
                self.wait_installed(updater, window)
                window.press("×")
                # A link named so is a plain name of the run directory: the
                # link goes, what it points to stays.
                self.assert_outcome(run_dir, updater, NEW, expected)
                if victim_path:
                    with open(victim_path, "rb") as source:
                        self.assertEqual(source.read(), b"keep me")


class TwoUpdatersTest(FaultCase):

    def test_two_updaters_on_one_run_directory(self):
        # Two started at once: both may get the offer, or the second may find
        # the hand-off file gone (then its notice), or read some keys before
        # the first removed the file and some after (then it has no address).
        # Whichever way: one download at most writes the download file; the
        # lock refuses any other, and the product ends up whole.
        # The first download is held in its middle until the others have
        # been refused.
        server = self.held_server(NEW, SIZE // 2)
        run_dir = self.prepare(server.url())
        updaters = [self.start_updater(run_dir), self.start_updater(run_dir)]

        def shown(updater):
            return (a11y.message_box_now(updater.pid, config.NOTICE_TITLE)
                    or a11y.window_now(updater.pid))
        seen = [wait_until(lambda u=u: shown(u), config.START_TIMEOUT, "a window or a notice")
                for u in updaters]
        windows = [(u, s) for u, s in zip(updaters, seen) if s.role == "frame"]
        self.assertGreaterEqual(len(windows), 1)
        for updater, thing in zip(updaters, seen):
            if thing.role != "frame":
                a11y.press_ok(thing)
                self.assertEqual(updater.wait_exit(), 0)

        (runner, window), others = windows[0], windows[1:]
        self.press_update(window)
        self.wait_progress(window)
        expected = [(LOCAL_FILE_FAILED, OPEN_URL_FAILED)] * len(others)
        # Another one started now, while the download runs, surely gets the
        # offer: its start-up cannot remove the download file, and its own
        # download is refused.
        run_dir.write_handoff(self.offer(self.serve().url(f"/_/gen/{SIZE}")))
        late = self.start_updater(run_dir)
        updaters.append(late)
        others.append((late, self.wait_window(late)))
        expected.append(LOCAL_FILE_FAILED)
        for (other, other_window), message in zip(others, expected):
            self.press_update(other_window)
            self.expect_message(other, other_window, message)
        self.assertEqual(run_dir.read_file(EXE), OLD)
        server.release()
        self.wait_installed(runner, window)
        for updater, shown_window in others + [(runner, window)]:
            shown_window.press("×")
        self.assert_outcome(run_dir, updaters, NEW, LEFT)


class KilledBeforeTheRenameTest(FaultCase):

    def test_killed_between_the_download_and_the_rename(self):
        # strace kills the updater as it enters the rename of the complete
        # download: the old executable stays, the complete download file is
        # left, and the next start removes it.
        server = self.serve()
        run_dir = self.prepare(server.url(f"/_/gen/{SIZE}"))
        updater, window = self.start(run_dir)
        trap = self.trap_rename(updater, run_dir, "error=EIO:signal=SIGKILL")
        window.press("开始更新")  # the end may come before the window could be read again
        self.assertEqual(updater.wait_exit(fault_rows.DOWNLOAD_TIMEOUT), -signal.SIGKILL)
        self.assertTrue(trap.entered(), trap.log())
        self.assert_outcome(run_dir, updater, OLD, LEFT + [TMP], exit_code=-signal.SIGKILL)
        self.assertEqual(run_dir.read_file(TMP), NEW)
        self.restart_clears(run_dir)
        self.assertEqual(run_dir.files(), sorted(LEFT))

    def test_killed_the_moment_the_progress_shows_100_percent(self):
        # By timing alone the moment cannot be hit exactly: whichever side of
        # the rename the kill lands on, the executable is whole.
        server = self.serve()
        run_dir = self.prepare(server.url(f"/_/gen/{SIZE}?rate=100000"))
        updater, window = self.start(run_dir)
        self.press_update(window)
        wait_until(lambda: "下载进度:100%" in window.labels() or LAUNCH in window.buttons(),
                   fault_rows.DOWNLOAD_TIMEOUT, "100%", interval=0.01)
        updater.send_signal(signal.SIGKILL)
        self.assertEqual(updater.wait_exit(), -signal.SIGKILL)
        left = LEFT + [TMP] if run_dir.read_file(EXE) == OLD else LEFT
        content = self.assert_outcome(run_dir, updater, (OLD, NEW), left,
                                      exit_code=-signal.SIGKILL)
        if content == OLD:
            self.assertEqual(run_dir.read_file(TMP), NEW)
            self.restart_clears(run_dir)


if __name__ == "__main__":
    harness.main()
