#!/usr/bin/python3
"""The update check at start-up, seen from outside: the notice when nothing
is on offer, the version numbers when something is, and the files the check
consumes. Run with run_e2e.sh (see there)."""

import harness
from harness import UpdaterTestCase, a11y, config, screen, wait_until

# What stays of a run directory after the check, whichever way it went: the
# executable and the folder pz, emptied.
LEFT_AFTER_CHECK = ["pz/", "tavrix-updater"]


class CheckTest(UpdaterTestCase):

    def prepare(self, handoff):
        """A run directory with a stale download file and, unless handoff is
        None, a hand-off file; the folder pz exists either way."""
        run_dir = self.make_run_dir(handoff)
        run_dir.write_file(config.DOWNLOAD_FILE, b"left over from an interrupted update")
        run_dir.make_dir("pz")  # empty when there is no gx.ini: must stay all the same
        return run_dir

    def expect_notice(self, run_dir):
        """Starts the updater, expects the no-update notice alone, presses its
        OK and expects exit code 0."""
        updater = self.start_updater(run_dir)
        box = self.wait_message_box(updater, config.NOTICE_TITLE)
        self.assertEqual(box.texts(), [config.NO_UPDATE_TEXT])
        self.assertEqual(list(box.buttons()), ["OK"])
        # The stale download file is gone before the notice shows.
        self.assertFalse(run_dir.exists(config.DOWNLOAD_FILE), run_dir.files())
        self.assertIsNone(a11y.window_now(updater.pid))
        self.assertEqual(screen.window_ids(pid=updater.pid), [])

        a11y.press_ok(box)

        def ended_without_window():
            if a11y.window_now(updater.pid) is not None:
                raise _WindowShown()
            return not updater.running()
        try:
            wait_until(ended_without_window, config.EXIT_TIMEOUT,
                       "the updater to end after the notice", stop_on=_WindowShown)
        except _WindowShown:
            self.fail("the updater's window showed after the no-update notice")
        self.assert_exit_code(updater, 0)

    def test_no_hand_off_file_brings_the_notice(self):
        run_dir = self.prepare(handoff=None)
        self.expect_notice(run_dir)
        self.assertEqual(run_dir.files(), LEFT_AFTER_CHECK)

    def test_no_offer_in_the_hand_off_file_brings_the_notice_and_consumes_it(self):
        run_dir = self.prepare(handoff=dict(config.OFFER, 更新="0"))
        self.expect_notice(run_dir)
        self.assertEqual(run_dir.files(), LEFT_AFTER_CHECK)

    def test_an_offer_shows_the_versions_and_a_second_start_finds_none(self):
        run_dir = self.prepare(handoff=config.OFFER)
        updater = self.start_updater(run_dir)
        window = self.wait_window(updater)
        labels = window.labels()
        self.assertIn("最新版本号:2.73", labels)
        self.assertIn("本地版本号:2.72", labels)
        self.assertEqual(a11y.message_boxes(updater.pid), [])
        # Both files are consumed before the window shows.
        self.assertEqual(run_dir.files(), LEFT_AFTER_CHECK)

        window.press("×")
        self.assert_exit_code(updater, 0)
        self.assertEqual(run_dir.files(), LEFT_AFTER_CHECK)

        # The offer was taken: the next start has nothing to offer.
        self.expect_notice(run_dir)
        self.assertEqual(run_dir.files(), LEFT_AFTER_CHECK)


class _WindowShown(Exception):
    """The updater's window appeared where it must not."""


if __name__ == "__main__":
    harness.main()
