"""What the program loads and runs, and which confirmation it trusts: the sensor runtime and the
encoder come only from the program's own folder (or the system folder and absolute PATH
folders), never from the current folder; an encoder that is a launcher of the real one records;
and a Save-dialog confirmation does not outlive a take recorded to its path."""

import os
import shutil
import time
import unittest

from nvr import RecorderTestCase, env, video
from nvr.recorder import ID_START, IDM_QUIT, IDNO
from nvr.recording import (ERROR_CAPTION, FAILED_START_TEXT, Take, is_idle, last_take_file,
                           relay_env, relay_runs, take_final_names)
from nvr.stage import ENCODER, SENSOR_RUNTIME

TIMEOUT = 30.0
TAKE_SECONDS = 1.5
QUESTION_CAPTION = "Nimbra VIZ Recorder"


class HardeningTests(RecorderTestCase):

    def test_sensor_runtime_is_loaded_only_from_beside_the_program(self):
        # The program runs from a subfolder with the stage as its current folder.
        for beside in (False, True):
            with self.subTest(beside=beside):
                stage = self.make_stage(sensor=beside, program_folder="app")
                if not beside:
                    shutil.copy2(os.path.join(env.bin_dir(), SENSOR_RUNTIME), stage.dir)
                counts = {"NVR_SIM_COUNTS": stage.windows_path("counts.txt")}
                with self.recorder(stage, counts) as rec:
                    self.wait_until(rec.shows_picture if beside else rec.shows_black, TIMEOUT,
                                    interval=0.3, message="the sensor's picture, or black")
                    self.driver.command(rec.control, IDM_QUIT)
                    self.assertEqual(rec.wait_exit(TIMEOUT), 0)
                # The simulated runtime writes its counts at shutdown and when it is unloaded.
                self.assertEqual(os.path.exists(stage.path("counts.txt")), beside)

    def test_encoder_is_never_run_from_the_current_folder(self):
        # Copies of the relay in the current folder and in a folder named by a relative PATH
        # entry are never run; one in an absolute PATH folder is, until one is beside the
        # program, which then comes first.
        relay = os.path.join(env.bin_dir(), ENCODER)
        stage = self.make_stage(encoder=False, program_folder="app")
        for folder in ("", "rel", "onpath"):
            os.makedirs(stage.path(folder), exist_ok=True)
        shutil.copy2(relay, stage.dir)
        shutil.copy2(relay, stage.path("rel"))
        path_env = {"WINEPATH": ".;;rel;" + stage.windows_path("onpath"), **relay_env(stage)}
        with self.recorder(stage, path_env) as rec:
            Take(rec, "planted.mp4").click_start()
            box = rec.message_box(ERROR_CAPTION, TIMEOUT)
            self.assertEqual(box.text, FAILED_START_TEXT)
            self.driver.press(box.hwnd, 1)
            self.wait_until(lambda: is_idle(rec) and not rec.dialogs(), TIMEOUT,
                            message="idle after the failed start")
            self.assertEqual(relay_runs(stage), [], "a planted encoder ran")

            shutil.copy2(relay, stage.path("onpath"))
            Take(rec, "on path.mp4").record(TAKE_SECONDS)
            # Beside the program comes first: the PATH's copy would now fail to start.
            with open(stage.path("onpath", ENCODER), "wb") as broken:
                broken.write(b"not a program\n")
            shutil.copy2(relay, stage.path("app"))
            Take(rec, "beside.mp4").record(TAKE_SECONDS)
            runs = relay_runs(stage)
            self.assertEqual([r["exit"] for r in runs], ["0", "0"], runs)
            self.assertTrue(all(int(r["frames"]) > 0 for r in runs), runs)

    def test_launcher_encoder_records_through_its_child(self):
        # The pipe's client is the child of the process the program started.
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage, fault="launcher")) as rec:
            Take(rec, "launched.mp4").record(TAKE_SECONDS)
            info = video.ffprobe_info(last_take_file(stage.dir))
            self.assertEqual((info["codec"], info["width"], info["height"], info["frames"] > 0),
                             ("h264", 640, 480, True), info)
            # The child's run (frames, exit 0) ends before the launcher's (no frames, exit 0).
            runs = [(int(r["frames"]) > 0, r["exit"]) for r in relay_runs(stage)]
            self.assertEqual(runs, [(True, "0"), (False, "0")])

    def test_save_dialog_confirmation_does_not_outlive_a_take_to_its_path(self):
        # Confirmed in the Save dialog during a take to the same path, and Start pressed while
        # recording; the stop leaves the take under that path (its final names are taken):
        # the next Start asks before replacing it.
        stage = self.make_stage()
        path = stage.windows_path("stale.mp4")
        take_final_names(stage, "stale.mp4", ".mp4")
        with self.recorder(stage, relay_env(stage)) as rec:
            take = Take(rec, path).start(TIMEOUT)
            self.wait_until(lambda: os.path.exists(stage.path("stale.mp4")), TIMEOUT,
                            message="the take's file")
            rec.confirm_in_save_dialog(path, TIMEOUT)
            self.driver.command(rec.control, ID_START)
            time.sleep(TAKE_SECONDS)
            take.stop(TIMEOUT)
            self.assertTrue(os.path.exists(stage.path("stale.mp4")), "the take was renamed")

            self.driver.click(rec.child(ID_START))
            box = rec.message_box(QUESTION_CAPTION, TIMEOUT)
            self.assertEqual(box.text, f"{path} already exists.\nDo you want to replace it?")
            self.driver.press(box.hwnd, IDNO)
            self.wait_until(lambda: not rec.dialogs(), TIMEOUT, message="the question's end")
            self.assertTrue(is_idle(rec))


if __name__ == "__main__":
    unittest.main()
