"""Takes run from the command line: a timed take that ends the program with its exit code,
requests that a second start hands to the running copy, and command lines not understood."""

import os
import re
import subprocess
import time
import unittest

from nvr import RecorderTestCase, env, video
from nvr.recorder import CONTROL_CLASS, IDM_ABOUT, IDM_QUIT, IDOK, launch
from nvr.recording import FRAMES_PER_SECOND, is_idle, relay_env, stage_files, status_text, \
    wait_saved

CAPTION = "Nimbra VIZ Recorder"
TAKE_SECONDS = 5
# Wine needs a few seconds to start a program; a request is answered once its take runs.
HANDED_OVER_TIMEOUT = 20.0
EXIT_TIMEOUT = 60.0


class ScriptedTakeTests(RecorderTestCase):

    def setUp(self):
        super().setUp()
        env.reset_settings()

    def run_to_end(self, stage, args, timeout=HANDED_OVER_TIMEOUT):
        """Runs the program with `args` where it opens no window of its own; its exit code."""
        proc = launch(stage, args)
        try:
            return proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            self.fail(f"{args} still ran after {timeout} s")

    def final_names(self, stage, name):
        return stage_files(stage, re.escape(name) + r"_\d{4}-.*\.mp4")

    def test_a_timed_take_records_its_frames_and_ends_the_program_with_its_code(self):
        stage = self.make_stage()
        # Options in any case; a path with a space, which Wine hands over in quotes.
        args = ["--RECORD", "scripted take.mp4", "--Duration", str(TAKE_SECONDS), "--skeleton",
                "On", "--exit"]
        with self.recorder(stage, relay_env(stage), args=args) as rec:
            self.assertEqual(rec.wait_exit(EXIT_TIMEOUT), 0)
        finals = self.final_names(stage, "scripted take.mp4")
        self.assertEqual(len(finals), 1, os.listdir(stage.dir))
        frames = video.ffprobe_info(stage.path(finals[0]))["frames"]
        self.assertLessEqual(abs(frames - TAKE_SECONDS * FRAMES_PER_SECOND), 1, frames)
        self.assertTrue(os.path.exists(stage.path(finals[0][:-4] + ".skeleton.csv")))
        self.assertEqual(env.read_last_path(), stage.windows_path(finals[0]))
        # The switch held for that run only: the settings keep what the user chose.
        self.assertIsNone(env.read_setting("SaveSkeletonData"))

        # A file of the take that is there already ends a run with --exit at once with 3 and
        # is left as it was, be it the video or, with skeleton data, its skeleton file.
        for name, existing, options in (("kept.mp4", "kept.mp4", []),
                                        ("kept2.mp4", "kept2.skeleton.csv", ["--skeleton", "on"])):
            with self.subTest(existing):
                with open(stage.path(existing), "wb") as file:
                    file.write(b"earlier take")
                self.assertEqual(self.run_to_end(stage, ["--record", name, "--exit"] + options),
                                 3)
                with open(stage.path(existing), "rb") as file:
                    self.assertEqual(file.read(), b"earlier take")
                self.assertEqual(self.final_names(stage, name), [])
        # Without --exit the program stays: no question, the status line says why, and the
        # run's exit code is still the take's.
        with self.recorder(stage, relay_env(stage), args=["--record", "kept.mp4"]) as rec:
            expected = "Not recorded, the file exists: " + stage.windows_path("kept.mp4")
            self.wait_until(lambda: status_text(rec) == expected, 10.0, message=expected)
            self.assertEqual(rec.dialogs(), [])
            self.assertTrue(is_idle(rec))
            self.driver.command(rec.control, IDM_QUIT)
            self.assertEqual(rec.wait_exit(EXIT_TIMEOUT), 3)
        # --overwrite records over it.
        self.assertEqual(self.run_to_end(stage, ["--record", "kept.mp4", "--overwrite",
                                                 "--duration", "1", "--exit"], EXIT_TIMEOUT), 0)
        self.assertEqual(len(self.final_names(stage, "kept.mp4")), 1)

    def test_a_running_copy_takes_the_requests_of_later_starts(self):
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage)) as rec:
            self.assertEqual(self.run_to_end(stage, ["--stop"]), 6, "nothing to stop")
            # A box open over the window (like Start's question) holds a start off.
            self.driver.command(rec.control, IDM_ABOUT)
            about = rec.message_box("About")
            self.assertEqual(self.run_to_end(stage, ["--record", "handed.mp4"]), 6)
            self.driver.press(about.hwnd, IDOK)
            self.driver.wait_gone(about.hwnd, 5.0)
            self.assertEqual(self.run_to_end(stage, ["--record", "handed.mp4", "--skeleton",
                                                     "on"]), 0)
            # The answer came once the take ran, in the running copy's windows only.
            self.assertFalse(is_idle(rec))
            self.assertEqual({w.pid for w in self.driver.windows() if w.cls == CONTROL_CLASS},
                             {rec.pid})
            self.assertEqual(self.run_to_end(stage, ["--record", "second.mp4"]), 6,
                             "a take already runs")
            time.sleep(2)
            self.assertEqual(self.run_to_end(stage, ["--stop"]), 0)
            self.assertTrue(is_idle(rec))
            self.assertIsNotNone(wait_saved(rec, 30.0))
            self.assertEqual(rec.dialogs(), [])
        finals = self.final_names(stage, "handed.mp4")
        self.assertEqual(len(finals), 1, os.listdir(stage.dir))
        self.assertTrue(os.path.exists(stage.path(finals[0][:-4] + ".skeleton.csv")))
        self.assertFalse(os.path.exists(stage.path("second.mp4")))
        self.assertIsNone(env.read_setting("SaveSkeletonData"))
        self.assertEqual(self.run_to_end(stage, ["--stop"]), 6, "no running copy")

    def test_a_command_line_not_understood_shows_the_usage_and_ends_with_2(self):
        stage = self.make_stage()
        for args, problem in ((["--help"], "Usage:"),
                              (["--record", "a.mp4", "--duration", "-5"],
                               "--duration needs a number of seconds greater than 0")):
            with self.subTest(args):
                proc = launch(stage, args)
                self.addCleanup(proc.kill)
                box = self.wait_until(lambda: [w for w in self.driver.windows()
                                               if w.cls == "#32770" and w.title == CAPTION],
                                      20.0, message="the usage box")[0]
                [dialog] = self.driver.dialogs(box.pid)
                self.assertTrue(dialog.text.startswith(problem), dialog.text)
                self.assertIn("--record PATH", dialog.text)
                self.assertEqual([w.hwnd for w in self.driver.windows(box.pid) if w.visible],
                                 [box.hwnd])
                self.driver.press(box.hwnd, IDOK)
                self.assertEqual(proc.wait(timeout=10), 2)


if __name__ == "__main__":
    unittest.main()
