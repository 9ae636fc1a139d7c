"""Start-up and shutdown of the whole program under Wine: its two windows, every way of ending
it, running without a sensor, and the release of the sensor runtime at the end."""

import time
import unittest

from nvr import RecorderTestCase, env
from nvr.recorder import CONTROL_TITLE, IDM_QUIT, OUTPUT_TITLE

EXIT_TIMEOUT = 10.0
PICTURE_TIMEOUT = 10.0
QUIET_PERIOD = 1.5


class StartupTests(RecorderTestCase):

    def test_each_way_of_quitting_ends_cleanly(self):
        # Closing either window alone, or File > Quit with both open, ends the program with 0
        # and leaves the sensor runtime shut down, with every colour frame handed back.
        ways = {
            "close output window": lambda rec: self.driver.close_window(rec.output),
            "close control window": lambda rec: self.driver.close_window(rec.control),
            "File > Quit": lambda rec: self.driver.command(rec.control, IDM_QUIT),
        }
        for way, end_program in ways.items():
            stage = self.make_stage()
            counts_file = stage.windows_path("counts.txt")
            with self.subTest(way), self.recorder(stage, {"NVR_SIM_COUNTS": counts_file}) as rec:
                self.wait_until(rec.shows_picture, PICTURE_TIMEOUT, interval=0.3,
                                message="the sensor's colour picture in the output window")
                end_program(rec)
                self.assertEqual(rec.wait_exit(EXIT_TIMEOUT), 0)
                self.assertEqual(self.driver.windows(rec.pid), [])
                # The simulated runtime writes its counts when it is shut down or unloaded.
                counts = env.read_key_values(stage.path("counts.txt"))
                self.assertEqual((counts["shutdown"], counts["calls_after_shutdown"]),
                                 ("1", "0"), counts)
                self.assertGreater(int(counts["color_handed"]), 0, counts)
                self.assertEqual(counts["color_handed"], counts["color_released"], counts)

    def test_runs_black_without_a_sensor(self):
        # With no runtime anywhere, or a runtime that finds no sensor, the program still shows
        # both windows, titled and sized, and no message, paints its all-black frame buffer
        # (the class background is white), and ends with 0.
        cases = {
            "no Kinect10.dll": ({"sensor": False}, {}),
            "no sensor attached": ({}, {"NVR_SIM_NO_SENSOR": "1"}),
        }
        for case, (stage_options, extra_env) in cases.items():
            with self.subTest(case), self.recorder(None, extra_env, **stage_options) as rec:
                for hwnd, expected in ((rec.control, (CONTROL_TITLE, 400, 350)),
                                       (rec.output, (OUTPUT_TITLE, 660, 520))):
                    rect = self.driver.rect(hwnd)
                    self.assertEqual((self.driver.text(hwnd), rect.w, rect.h), expected)
                self.wait_until(rec.shows_black, PICTURE_TIMEOUT, interval=0.3,
                                message="an all-black output window")
                # No message box, nor any other window, for a while after start-up.
                deadline = time.monotonic() + QUIET_PERIOD
                while time.monotonic() < deadline:
                    visible = {w.hwnd for w in self.driver.windows(rec.pid) if w.visible}
                    self.assertEqual(visible, {rec.control, rec.output})
                    time.sleep(0.25)
                self.driver.command(rec.control, IDM_QUIT)
                self.assertEqual(rec.wait_exit(EXIT_TIMEOUT), 0)


if __name__ == "__main__":
    unittest.main()
