"""How a take ends: a long rewrite is saved under its final name, a hung one is ended and the
take kept as recorded; every fault ends a scripted take with exit code 5 and a status line that
says which; only the take's own files move with it, and all of them or none."""

import json
import os
import re
import stat
import subprocess
import time
import unittest

from nvr import RecorderTestCase, env, video
from nvr.recorder import IDM_QUIT, IDM_SAVE_SKELETON, IDOK, launch
from nvr.recording import (ENCODER_STALLED_TEXT, FINAL_NAME, KEPT_FIRST_NAME_TEXT, Take,
                           encoders_of, is_idle,
                           last_take_file, relay_env, relay_runs, stage_files, status_text,
                           wait_for, wait_saved)

APP_CAPTION = "Nimbra VIZ Recorder"
STANDARD_TEXT = "Saved 0:00:0"
AS_RECORDED_TEXT = "Saved (as recorded: the standard copy could not be made) 0:00:0"
TIMEOUT = 30.0


class TakeFinishTests(RecorderTestCase):

    def setUp(self):
        super().setUp()
        env.reset_settings()
        # A switch flipped back just before its program ends may not have been stored.
        self.addCleanup(env.reset_settings)

    def assert_holds_every_frame(self, stage, standard):
        """The last take's video holds every frame its encoder took, as a standard MP4 (index
        in front) or as the fragmented file; no temporary copy is left."""
        path = last_take_file(stage.dir)
        boxes = video.top_level_boxes(path)
        self.assertLess(boxes.index("moov"), boxes.index("mdat"), boxes)
        self.assertEqual("moof" not in boxes, standard, boxes)
        self.assertEqual(video.ffprobe_info(path)["frames"], int(relay_runs(stage)[0]["frames"]))
        self.assertEqual(stage_files(stage, r".*\.saving\.mp4"), [])

    def test_a_slow_second_pass_is_saved_and_a_hung_rewrite_ended_after_30_s(self):
        # The copy does not grow for 14 s while it is rewritten in place: the work is seen.
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage, "slow-rewrite")) as rec:
            take = Take(rec, "slow.mp4").record(2.0)
            wait_saved(rec, 60.0)
            self.assertTrue(status_text(rec).startswith(STANDARD_TEXT), status_text(rec))
            self.assertEqual([r["exit"] for r in relay_runs(stage, rewrites=True)], ["0"])
            self.assert_holds_every_frame(stage, standard=True)
            print(f"slow second pass: saved {take.saved.mid - take.stop_clicked.mid:.1f} s "
                  "after Stop")
        # A rewrite that does nothing at all is ended; the take keeps the file as recorded.
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage, "hang-rewrite")) as rec:
            take = Take(rec, "hung.mp4").start()
            time.sleep(2.0)
            take.stop(60.0)  # Start is on again before the status line is read
            waited = take.saved.mid - take.stop_clicked.mid
            self.assertTrue(30.0 <= waited < 40.0, f"saved {waited:.1f} s after Stop")
            self.assertTrue(status_text(rec).startswith(AS_RECORDED_TEXT), status_text(rec))
            self.assert_holds_every_frame(stage, standard=False)
            self.assertEqual(rec.dialogs(), [])

    def scripted_take(self, stage, extra, args, expected, until_stop=None):
        """Runs a scripted take with `args` (its program stays), stopped by a second start
        `until_stop` s after it began when given; once its files are named and its status line
        matches `expected`, quits it and returns the run's exit code."""
        with self.recorder(stage, {**relay_env(stage), **extra}, args=args) as rec:
            if until_stop is not None:
                wait_for(lambda: not is_idle(rec), TIMEOUT)
                time.sleep(until_stop)
                proc = launch(stage, ["--stop"])
                self.addCleanup(proc.kill)
                self.assertEqual(proc.wait(timeout=TIMEOUT), 0)

            def named():
                try:
                    return FINAL_NAME.match(env.read_last_path() or "") is not None
                except (OSError, UnicodeError):
                    return False
            # Its files are named, or (a take with no file) its encoder is gone.
            done = wait_for(lambda: is_idle(rec) and re.search(expected, status_text(rec))
                            and (named() or not encoders_of(self.driver, rec.pid)), 60.0,
                            interval=0.1)
            self.assertIsNotNone(done, status_text(rec))
            time.sleep(1.0)  # the report follows the name
            self.assertEqual(rec.dialogs(), [])
            self.driver.command(rec.control, IDM_QUIT)
            return rec.wait_exit(TIMEOUT)

    def test_every_fault_ends_a_scripted_take_with_5_and_the_status_line_says_which(self):
        cases = (
            ("encoder stalled at Stop", {"NVR_RELAY_FAULT": "read-few-stall"}, [], 1.0,
             "^" + re.escape(ENCODER_STALLED_TEXT) + "$"),
            ("encoder exits 1 at Stop", {"NVR_RELAY_FAULT": "fail-finish"}, ["--duration", "2"],
             None, r"^FFmpeg ended with an error finishing the video\. Saved 0:00:0\d "),
            ("depth encoder dies", {"NVR_RELAY_FAULT": "read-few-exit",
                                    "NVR_RELAY_FAULT_PIPE": "vuduvazidozu-depth"},
             ["--depth", "on", "--duration", "4"], None,
             r"^Recording stopped: FFmpeg ended unexpectedly while writing depth:\n.*dies\.depth"),
        )
        for name, extra, args, until_stop, expected in cases:
            with self.subTest(name):
                stage = self.make_stage()
                path = name.split()[-1] + ".mp4"
                self.assertEqual(self.scripted_take(stage, extra, ["--record", path] + args,
                                                    expected, until_stop), 5)
        # The same take without a fault is whole: 0.
        stage = self.make_stage()
        self.assertEqual(self.scripted_take(stage, {}, ["--record", "whole.mp4", "--duration",
                                                        "2"], "^Saved 0:00:0"), 0)

    def test_only_the_takes_own_files_move_and_all_or_none(self):
        # An older read-only frames file at the start name is not the take's: it stays, is not
        # listed, and its failure is told.
        stage = self.make_stage()
        older = stage.path("ro.frames.csv")
        with open(older, "w") as file:
            file.write("older")
        os.chmod(older, stat.S_IREAD)
        # Read-only even to root, who runs the tests.
        if subprocess.run(["chattr", "+i", older], capture_output=True).returncode != 0:
            self.skipTest("no file here can be made read-only to root")
        self.addCleanup(subprocess.run, ["chattr", "-i", older])
        self.assertEqual(self.scripted_take(
            stage, {}, ["--record", "ro.mp4", "--skeleton", "on", "--overwrite", "--duration",
                        "2"], r"^Frame data could not be saved\. Saved 0:00:0\d "), 5)
        with open(older) as file:
            self.assertEqual(file.read(), "older")
        final = last_take_file(stage.dir)
        self.assertTrue(os.path.exists(final[:-4] + ".skeleton.csv"))
        self.assertFalse(os.path.exists(final[:-4] + ".frames.csv"))
        with open(final[:-4] + ".take.json", encoding="utf-8") as file:
            files = json.load(file)["files"]
        self.assertEqual((files["frames"], files["skeleton"]),
                         (None, os.path.basename(final)[:-4] + ".skeleton.csv"))

        # A companion held open by another program (here the driver, as a spreadsheet would)
        # can't be moved after the skeleton file was: every file keeps its start name.
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage)) as rec:
            self.driver.command(rec.control, IDM_SAVE_SKELETON)
            try:
                take = Take(rec, stage.windows_path("held.mp4")).start()
                time.sleep(1.5)
                self.driver.hold_file(stage.windows_path("held.frames.csv"))
                take.click_stop()
                box = rec.message_box(APP_CAPTION, TIMEOUT)
                self.assertEqual(box.text, KEPT_FIRST_NAME_TEXT + stage.windows_path("held.mp4"))
                self.driver.press(box.hwnd, IDOK)
            finally:
                self.driver.release_files()
                self.driver.command(rec.control, IDM_SAVE_SKELETON)
        self.assertEqual(stage_files(stage, r"held.*"),
                         ["held.frames.csv", "held.mp4", "held.skeleton.csv", "held.take.json"])
        self.assertEqual(video.ffprobe_info(stage.path("held.mp4"))["frames"],
                         int(relay_runs(stage)[0]["frames"]))


if __name__ == "__main__":
    unittest.main()
