"""The control window under Wine: its controls and banner, what Save Path, Start and Stop
store and show beyond the recording itself, the overwrite question, and the save path
remembered from one run to the next."""

import os
import time
import unittest

from nvr import RecorderTestCase, env
from nvr.image import Image
from nvr.recorder import (ID_PATH_EDIT, ID_SAVE_PATH, ID_SHOW_COLOR, ID_START, ID_STATUS, ID_STOP,
                          IDM_ABOUT, IDM_QUIT, IDNO, IDOK, IDYES)
from nvr.recording import (FINAL_NAME, Take, encoders_of, is_idle, last_take_file,
                           status_text)
from nvr.stage import BANNER

DIALOG_TIMEOUT = 10.0
PICTURE_TIMEOUT = 10.0
RECORD_SECONDS = 1.0
BANNER_TOP = 160
BANNER_SIZE = (300, 110)
BLOCK_WIDTH = 260
# Top of the part of the window below the buttons, where only the banner may be drawn.
BELOW_BUTTONS = 135
# The status line along the bottom of the client area.
STATUS_HEIGHT = 18
# An outer height that leaves the control window's client area shorter than BELOW_BUTTONS.
COLLAPSED_HEIGHT = 120


def c_div2(value):
    """value / 2 truncated toward zero, as the program computes it (Python's // floors)."""
    return int(value / 2)


def project_version():
    """The version the build was configured with (project() in CMakeLists.txt)."""
    with open(os.path.join(env.bin_dir(), os.pardir, "CMakeCache.txt"), encoding="utf-8") as cache:
        return next(line.split("=", 1)[1].strip() for line in cache
                    if line.startswith("CMAKE_PROJECT_VERSION:"))


def read_bytes(path):
    with open(path, "rb") as data:
        return data.read()


class ControlWindowTests(RecorderTestCase):

    def edit_text(self, rec):
        return self.driver.text(rec.child(ID_PATH_EDIT))

    def handled(self, rec):
        """Returns once every command posted to the control window so far has been handled:
        the About box, posted after them, opens only then. Closes the box again."""
        self.driver.command(rec.control, IDM_ABOUT)
        self.press(self.driver.wait_dialog(rec.pid, DIALOG_TIMEOUT, "About"), IDOK)

    def press(self, box, button):
        self.driver.press(box, button)
        self.driver.wait_gone(box, DIALOG_TIMEOUT)

    def assert_only_banner_below_buttons(self, rec, banner, png_name, width=None):
        """After a repaint at the outer `width` (None: as it is), the control window shows
        below the buttons the banner, unscaled, at x = (W - 300) / 2, y = 160 (or nothing
        when `banner` is None), and the background everywhere else."""
        # Why the detour through a low height: the class does not redraw on a resize, so a
        # resize alone paints only the newly uncovered strip; and Wine now and then leaves on
        # screen what the output window showed over the control window before start-up moved
        # it away.
        outer = self.driver.rect(rec.control)
        self.driver.move(rec.control, outer.x, outer.y, outer.w, COLLAPSED_HEIGHT)
        self.driver.move(rec.control, outer.x, outer.y, width or outer.w, outer.h)

        def mismatches():
            shot, client = rec.client_shot(rec.control, png_name)
            picture = shot.crop(client.x, client.y, client.w, client.h)
            background = picture.pixel(2, picture.height - 2)
            left = c_div2(picture.width - BANNER_SIZE[0])
            bad = []
            # The status line runs along the bottom, under the banner.
            for y in range(BELOW_BUTTONS, picture.height - STATUS_HEIGHT):
                for x in range(picture.width):
                    bx, by = x - left, y - BANNER_TOP
                    inside = (banner is not None and 0 <= bx < banner.width
                              and 0 <= by < banner.height)
                    expected = banner.pixel(bx, by) if inside else background
                    if picture.pixel(x, y) != expected:
                        bad.append((x, y, picture.pixel(x, y), expected))
            return picture.width, bad
        deadline = time.monotonic() + PICTURE_TIMEOUT
        width, bad = mismatches()
        while bad and time.monotonic() < deadline:
            time.sleep(0.3)
            width, bad = mismatches()
        self.assertEqual(bad[:5], [], f"{len(bad)} pixels differ below the buttons of a "
                         f"{width} wide client area (see {png_name} in the stage); first: "
                         "(x, y, shown, expected)")

    # Layout ----------------------------------------------------------------------------------

    def test_layout_banner_and_resizing(self):
        # The controls sit in a block centred on the client width at creation, the banner is
        # shown unscaled below them, and a resize moves the banner with the new width while
        # the controls stay put. With no settings file the path is "output.mp4".
        env.reset_settings()
        stage = self.make_stage()
        self.assertTrue(stage.has_banner, "the build has no banner bitmap")
        banner = Image.from_ppm(env.run_checked(["convert", stage.path(BANNER), "ppm:-"], 60))
        self.assertEqual((banner.width, banner.height), BANNER_SIZE)
        with self.recorder(stage, {"NVR_SIM_TRACKED": "none"}) as rec:
            left = c_div2(self.driver.client(rec.control).w - BLOCK_WIDTH)
            expected = {
                ID_SHOW_COLOR: ("Button", "Show Color Feed", left, 20, 200, 25, True),
                ID_PATH_EDIT: ("Edit", "output.mp4", left + 90, 60, 170, 20, True),
                ID_START: ("Button", "Start Recording", left, 100, 120, 30, True),
                ID_STOP: ("Button", "Stop Recording", left + 130, 100, 120, 30, False),
                ID_SAVE_PATH: ("Button", "Save Path:", left, 60, 80, 22, True),
            }

            def layout():
                return {c.id: (c.cls, c.text, c.x, c.y, c.w, c.h, c.enabled)
                        for c in self.driver.children(rec.control)
                        if c.visible and c.id != ID_STATUS}
            self.assertEqual(layout(), expected)
            client = self.driver.client(rec.control)
            status = next(c for c in self.driver.children(rec.control) if c.id == ID_STATUS)
            self.assertEqual((status.cls, status.x, status.y + status.h, status.w),
                             ("Static", 4, client.h, client.w - 8))
            # "Ready." alone until the free space is read, off the window's thread.
            self.wait_until(lambda: status_text(rec).startswith("Ready. "), 5.0,
                            message="the free space on the idle line")
            self.assertEqual(self.driver.checked(rec.child(ID_SHOW_COLOR)), 1)
            self.assert_only_banner_below_buttons(rec, banner, "layout.png")
            # 249 wide gives an odd negative W - 300, where truncation and flooring differ.
            self.assert_only_banner_below_buttons(rec, banner, "resized.png", 249)
            self.assertEqual(layout(), expected)

    def test_without_the_banner_file_only_the_background_shows(self):
        with self.recorder(None, {"NVR_SIM_TRACKED": "none"}, banner=False) as rec:
            self.assert_only_banner_below_buttons(rec, None, "no-banner.png")

    # The Save dialog, Start and Stop ---------------------------------------------------------

    def test_save_dialog_fills_the_path_box_only(self):
        # A chosen file's full path goes into the box, with ".mp4" added to a bare name; the
        # settings file is not touched; Cancel changes nothing. A file replaced with the
        # dialog's own consent is then recorded over at Start without a second question.
        env.reset_settings()
        stage = self.make_stage()
        with open(stage.path("chosen.mp4"), "wb") as existing:
            existing.write(b"replaced after the Save dialog's own question\n")
        chosen = stage.windows_path("chosen.mp4")
        with self.recorder(stage) as rec:
            rec.confirm_in_save_dialog(stage.windows_path("chosen"), DIALOG_TIMEOUT)
            self.handled(rec)
            self.assertEqual(self.edit_text(rec), chosen)
            self.driver.click(rec.child(ID_SAVE_PATH))
            dialog = self.driver.save_dialog(rec.pid, DIALOG_TIMEOUT)
            self.driver.save_dialog_cancel(dialog)
            self.driver.wait_gone(dialog, DIALOG_TIMEOUT)
            self.handled(rec)
            self.assertEqual(self.edit_text(rec), chosen)
            self.assertFalse(os.path.exists(env.settings_path()),
                             "the Save dialog wrote the settings file")

            Take(rec).record(RECORD_SECONDS)
            self.assertEqual(FINAL_NAME.match(env.read_last_path())["path"], chosen)

    def test_start_and_stop_store_the_path_and_the_next_run_shows_it(self):
        # Start stores the typed path; a Start during the recording only stores the path;
        # after Stop the final name is stored (the box keeps the text); a Stop while idle
        # does nothing; the next run shows the final name.
        env.reset_settings()
        stage = self.make_stage()
        take = stage.windows_path("take.mp4")
        with self.recorder(stage) as rec:
            recording = Take(rec, take).start()
            self.assertEqual(env.read_last_path(), take)
            self.assertEqual(len(encoders_of(self.driver, rec.pid)), 1)

            self.driver.set_text(rec.child(ID_PATH_EDIT), "other.mp4")
            self.driver.command(rec.control, ID_START)
            self.handled(rec)
            self.assertEqual(env.read_last_path(), stage.windows_path("other.mp4"))
            self.assertEqual(rec.dialogs(), [])
            self.assertEqual(len(encoders_of(self.driver, rec.pid)), 1)
            self.assertFalse(is_idle(rec))

            time.sleep(RECORD_SECONDS)
            recording.stop()
            final = env.read_last_path()
            self.assertEqual(FINAL_NAME.match(final)["path"], take, final)
            self.assertEqual(self.edit_text(rec), "other.mp4")

            files = sorted(os.listdir(stage.dir))
            settings = read_bytes(env.settings_path())
            self.driver.command(rec.control, ID_STOP)
            self.handled(rec)
            self.assertTrue(is_idle(rec))
            self.assertEqual(encoders_of(self.driver, rec.pid), [])
            self.assertEqual(sorted(os.listdir(stage.dir)), files)
            self.assertEqual(read_bytes(env.settings_path()), settings)
            self.driver.command(rec.control, IDM_QUIT)
            self.assertEqual(rec.wait_exit(DIALOG_TIMEOUT), 0)

        with self.recorder(stage) as rec:
            self.assertEqual(self.edit_text(rec), final)

    def test_failed_start_stores_an_empty_path_and_about_box(self):
        # A Start that fails (no encoder) has stored the typed path first, an empty one as
        # empty. Help > About shows the program's name and version with an OK button.
        env.reset_settings()
        with self.recorder(None, sensor=False, encoder=False) as rec:
            self.driver.set_text(rec.child(ID_PATH_EDIT), "")
            self.driver.click(rec.child(ID_START))
            self.press(rec.message_box("Error").hwnd, IDOK)
            self.assertEqual(env.read_last_path(), "")

            self.driver.command(rec.control, IDM_ABOUT)
            about = rec.message_box("About")
            self.assertEqual(about.buttons, [IDOK])
            self.assertTrue(about.text.startswith(f"Nimbra VIZ Recorder {project_version()}\n"),
                            about.text)

    def test_overwrite_question(self):
        # Start asks before an existing typed file is replaced: No keeps the file and starts
        # nothing, Yes records over it.
        stage = self.make_stage()
        original = b"an earlier recording that must survive a No\n" * 50
        with open(stage.path("existing.mp4"), "wb") as existing:
            existing.write(original)
        files = sorted(os.listdir(stage.dir) + ["program.log"])
        with self.recorder(stage) as rec:
            self.driver.set_text(rec.child(ID_PATH_EDIT), "existing.mp4")
            question = (stage.windows_path("existing.mp4") +
                        " already exists.\nDo you want to replace it?")
            for answer in (IDNO, IDYES):
                self.driver.click(rec.child(ID_START))
                box = rec.message_box("Nimbra VIZ Recorder")
                self.assertEqual((box.text, box.buttons), (question, [IDYES, IDNO]))
                self.press(box.hwnd, answer)
                self.handled(rec)
                if answer == IDNO:
                    self.assertTrue(is_idle(rec))
                    self.assertEqual(encoders_of(self.driver, rec.pid), [])
                    self.assertEqual(sorted(os.listdir(stage.dir)), files)
                    self.assertEqual(read_bytes(stage.path("existing.mp4")), original)

            self.assertFalse(is_idle(rec), "Yes did not start the recording")
            time.sleep(RECORD_SECONDS)
            Take(rec).stop()
            final = env.read_last_path()
            self.assertEqual(FINAL_NAME.match(final)["path"], stage.windows_path("existing.mp4"))
            self.assertTrue(os.path.isfile(last_take_file(stage.dir)))
            self.assertFalse(os.path.exists(stage.path("existing.mp4")))


if __name__ == "__main__":
    unittest.main()
