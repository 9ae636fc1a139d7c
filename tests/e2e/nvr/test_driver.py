"""Checks of nvrdrive.exe itself against nvrdrive-target.exe, in the test environment:
NVR_TESTENV=... NVR_BIN=... python3 -m unittest nvr.test_driver (from tests/e2e)."""

import os
import subprocess
import unittest

from nvr import env
from nvr.driver import Driver, DriverError, DriverTimeout, poll_until

TARGET_CLASS = "NvrDriveTarget"
TARGET_TITLE = "Drive target \u00fc"
IDYES = 6


class DriverTests(unittest.TestCase):

    def setUp(self):
        self.driver = Driver()
        self.addCleanup(self.driver.close)
        self.folder = os.path.join(env.testenv_dir(), "stages", "nvr.test_driver")
        os.makedirs(self.folder, exist_ok=True)
        self.proc = subprocess.Popen(["wine", os.path.join(env.bin_dir(), "nvrdrive-target.exe")],
                                     env=env.wine_env(), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     start_new_session=True)
        self.addCleanup(self._end_target)
        self.window = self.driver.find(TARGET_CLASS, 30)
        self.pid = self.driver.pid(self.window)

    def _end_target(self):
        try:
            self.driver.terminate(self.pid, 5)
        except (DriverError, AttributeError):
            pass
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(timeout=10)

    def test_texts_round_trip_and_bad_requests_are_refused(self):
        edit = self.driver.child(self.window, 0)
        for text in ["", "two  spaces ", "C:\\dir\\x.mp4", "line\r\nnext\ttab",
                     "\u00e4\u20ac\U0001f600", "\\0 \\s literal escapes"]:
            self.driver.set_text(edit, text)
            self.assertEqual(self.driver.text(edit), text)
        self.assertEqual(self.driver.find("*", 5, TARGET_TITLE), self.window)
        self.assertEqual(self.driver.text(self.window), TARGET_TITLE)

        refusals = {"frobnicate": "unknown command", "child zz 1": "bad window handle",
                    "gettext 0": "no such window", "move 1": "usage",
                    f"command {self.window} x": "bad number",
                    f"settext {edit} bad\\q": "bad escape"}
        for request, message in refusals.items():
            with self.assertRaisesRegex(DriverError, message):
                self.driver.request(request)
        with self.assertRaises(DriverTimeout):
            self.driver.find("NoSuchClass", 0.2)
        self.assertEqual(self.driver.request("ping"), "pong")

    def test_controls_modal_box_and_placement(self):
        children = {c.id: c for c in self.driver.children(self.window)}
        self.assertEqual((children[1].cls, children[1].text, children[3].enabled),
                         ("Button", "Option", False))
        self.assertEqual((children[0].x, children[0].y, children[0].w, children[0].h),
                         (10, 40, 260, 20))
        with self.assertRaisesRegex(DriverError, "disabled"):
            self.driver.click(children[3].hwnd)

        self.driver.click(children[1].hwnd)
        self.assertEqual(poll_until(lambda: self.driver.checked(children[1].hwnd), 5), 1)

        self.driver.click(children[2].hwnd)
        box = self.driver.wait_dialog(self.pid, 10, "Question")
        self.assertEqual([(d.hwnd, d.buttons, d.caption, d.text)
                          for d in self.driver.dialogs(self.pid)],
                         [(box, [6, 7], "Question", "Line one\nLine two")])
        # While the box is open its owner is disabled: a click could not happen.
        with self.assertRaisesRegex(DriverError, "its window is disabled"):
            self.driver.click(children[2].hwnd)
        self.driver.press(box, IDYES)
        self.driver.wait_gone(box, 5)
        self.assertEqual(poll_until(lambda: self.driver.text(children[0].hwnd), 5), "yes")

        self.driver.move(self.window, 200, 100, 320, 240)
        rect = self.driver.rect(self.window)
        client = self.driver.client(self.window)
        self.assertEqual(tuple(rect), (200, 100, 320, 240))
        self.assertTrue(200 <= client.x and 100 <= client.y and client.w < 320 and client.h < 240)

    def test_save_dialog_cancel_choose_and_overwrite(self):
        edit = self.driver.child(self.window, 0)
        save_button = self.driver.child(self.window, 4)

        self.driver.click(save_button)
        dialog = self.driver.save_dialog(self.pid, 30)
        self.driver.save_dialog_cancel(dialog)
        self.driver.wait_gone(dialog, 10)
        self.assertEqual(poll_until(lambda: self.driver.text(edit), 5), "cancelled")

        existing = os.path.join(self.folder, "existing \u00e4.mp4")
        with open(existing, "wb"):
            pass
        chosen = env.to_windows_path(existing)
        self.driver.click(save_button)
        dialog = self.driver.save_dialog(self.pid, 30)
        self.driver.save_dialog_choose(dialog, chosen)
        prompt = self.driver.wait_new_dialog(self.pid, [dialog], 10)
        self.assertIn(IDYES, prompt.buttons)
        self.driver.press(prompt.hwnd, IDYES)
        self.driver.wait_gone(dialog, 10)
        self.assertEqual(poll_until(lambda: self.driver.text(edit) != "cancelled" and
                                    self.driver.text(edit), 5), chosen)

    def test_exit_codes_and_process_trees(self):
        self.driver.command(self.window, 103)
        child = self.driver.find("NvrDriveChild", 30)
        child_pid = self.driver.pid(child)
        desktop = [p.pid for p in self.driver.processes() if p.exe.lower() == "explorer.exe"]

        self.driver.watch(self.pid)
        self.assertEqual(self.driver.terminate(self.pid, 5), 2)
        self.driver.wait_gone(child, 5)
        self.assertEqual(self.driver.wait_exit(self.pid, 5), 1)  # TerminateProcess's code
        running = {p.pid for p in self.driver.processes()}
        self.assertNotIn(child_pid, running)
        self.assertTrue(set(desktop) <= running, "Wine's desktop process was ended")

        self.proc = subprocess.Popen(["wine", os.path.join(env.bin_dir(), "nvrdrive-target.exe")],
                                     env=env.wine_env(), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     start_new_session=True)
        self.window = self.driver.find(TARGET_CLASS, 30)
        self.pid = self.driver.pid(self.window)
        with self.assertRaises(DriverTimeout):
            self.driver.wait_exit(self.pid, 0.2)
        self.driver.command(self.window, 101)
        self.assertEqual(self.driver.wait_exit(self.pid, 10), 7)


if __name__ == "__main__":
    unittest.main()
