"""Recording through the control window's buttons under Wine, into real MP4 files made by the
encoder relay: the files' names, format and frames, and every way a recording can fail to start
or end early, each of which must leave the program ready for the next recording."""

import hashlib
import os
import shutil
import time
import unittest

from nvr import RecorderTestCase, env, image, video
from nvr.recorder import ID_PATH_EDIT, IDM_QUIT
from nvr.recording import (ENCODER_LOST_TEXT, ERROR_CAPTION, FAILED_START_TEXT, FINAL_NAME,
                           FRAMES_PER_SECOND, CompanionRecorder, FrameReport, Take, encoders_of,
                           is_idle, relay_env, relay_runs, stage_files)

TAKE_SECONDS = 3.0
SHORT_TAKE_SECONDS = 1.5
ACCURACY_TAKE_SECONDS = 6.0
LATE_START_TAKE_SECONDS = 10.0
# A healthy start connects and a healthy stop returns well within these.
CONNECT_TIMEOUT = 30.0
STOP_TIMEOUT = 30.0
# The program gives an encoder 10 s to open the pipe; a stop gives a stalled encoder 2 s without
# progress and 5 s to end, a slow one at most 5 s to take what is queued and 5 s to end:
# generous bounds above those.
NO_OPEN_BOX_TIMEOUT = 30.0
STALLED_STOP_BOUND = 15.0
SLOW_STOP_BOUND = 15.0
ENCODER_EXIT_WAIT = 5.0
# The relay's Linux ffmpeg finishes a file in well under this.
ENCODER_END_TIMEOUT = 60.0
EXIT_TIMEOUT = 15.0
QUIET_PERIOD = 1.5
# Frames allowed off the 30-a-second timeline at the end of a take, beyond the measurement's
# own uncertainty.
COUNT_TOLERANCE = 2


def file_digest(path):
    with open(path, "rb") as data:
        return hashlib.sha256(data.read()).hexdigest()


class RecordingTests(RecorderTestCase):

    # Checks shared by the tests -------------------------------------------------------------

    def assert_mp4(self, path, seconds=None):
        """The file is an H.264, 640x480, yuv420p, 30 fps MP4; with `seconds`, it holds about
        that many seconds of frames. Returns ffprobe's figures."""
        self.assertTrue(os.path.isfile(path), f"{path} is missing")
        info = video.ffprobe_info(path)
        self.assertEqual((info["codec"], info["width"], info["height"], info["pix_fmt"],
                          info["frame_rate"]), ("h264", 640, 480, "yuv420p", "30/1"), info)
        self.assertIn("mp4", info["format"].split(","), info)
        if seconds is not None:
            expected = seconds * FRAMES_PER_SECOND
            self.assertLess(abs(info["frames"] - expected), 0.2 * expected + COUNT_TOLERANCE,
                            f"{info['frames']} frames for a take of {seconds:.2f} s")
        return info

    def assert_error_box(self, rec, text, timeout):
        """Waits for the program's error box with `text`, checks it is the only dialog and has
        just an OK button, and presses OK. Returns the seconds it took to appear."""
        started = time.monotonic()
        box = self.wait_until(lambda: rec.dialogs(), timeout, interval=0.05,
                              message=f'the message box "{text}"')
        appeared = time.monotonic() - started
        self.assertEqual([(d.caption, d.text, d.buttons) for d in box],
                         [(ERROR_CAPTION, text, [1])])
        self.driver.press(box[0].hwnd, 1)
        self.driver.wait_gone(box[0].hwnd, 5.0)
        return appeared

    def assert_quiet(self, rec):
        """No message box comes up for a while."""
        deadline = time.monotonic() + QUIET_PERIOD
        while time.monotonic() < deadline:
            self.assertEqual(rec.dialogs(), [])
            time.sleep(0.1)

    def assert_idle_without_encoder(self, rec):
        self.assertTrue(is_idle(rec), "Start should be enabled and Stop disabled")
        # A failed start waits (bounded) for the encoder it terminates.
        self.wait_until(lambda: not encoders_of(self.driver, rec.pid), 5.0,
                        message="no encoder process of the program left")

    def assert_renamed_take(self, take, path, folder):
        """After a stop: the file is under one of the names the take may have got, not under
        its start name, and that name is LastPath. Returns the file's Linux path."""
        last_path = env.read_last_path()
        self.assertIn(last_path, take.possible_final_names(path))
        self.assertRegex(last_path, FINAL_NAME)
        final = os.path.join(folder, last_path.rsplit("\\", 1)[-1])
        self.assertTrue(os.path.isfile(final), f"{final} is missing")
        self.assertFalse(os.path.exists(os.path.join(folder, path.rsplit("\\", 1)[-1])),
                         "the file is still under its start name")
        return final

    def assert_other_copy_records(self):
        """A fresh copy of the program, beside any other still running, records a short take
        into a valid MP4: the frame pipe's name is free and no encoder stands in the way."""
        stage = self.make_stage()
        other = CompanionRecorder(stage, self.driver, extra_env=relay_env(stage))
        self.addCleanup(other.kill)
        with other:
            take = Take(other, stage.windows_path("next.mp4")).start(CONNECT_TIMEOUT)
            time.sleep(SHORT_TAKE_SECONDS)
            take.stop(STOP_TIMEOUT)
            final = self.assert_renamed_take(take, take.path, stage.dir)
            self.assert_mp4(final, take.ran[0])

    # Good takes -----------------------------------------------------------------------------

    def test_takes_become_h264_mp4_files_under_their_timestamped_names(self):
        # Three takes in one run: the default relative path (written in the program's working
        # folder), a path with spaces, and one with characters outside the 8-bit code page.
        env.reset_settings()
        stage = self.make_stage()
        os.makedirs(stage.path("my takes"))
        takes = [
            ("default relative path", None, "output.mp4", stage.dir),
            ("path with spaces", stage.windows_path("my takes", "take one.mp4"), None,
             stage.path("my takes")),
            ("path outside the code page", stage.windows_path("Видео 東京.mp4"), None,
             stage.dir),
        ]
        with self.recorder(stage, relay_env(stage)) as rec:
            self.assertEqual(self.driver.text(rec.child(ID_PATH_EDIT)), "output.mp4")
            for label, typed, shown, folder in takes:
                with self.subTest(label):
                    take = Take(rec, typed).start(CONNECT_TIMEOUT)
                    time.sleep(TAKE_SECONDS)
                    take.stop(STOP_TIMEOUT)
                    final = self.assert_renamed_take(take, typed or shown, folder)
                    self.assert_mp4(final, take.ran[0])
            self.assertEqual([r["exit"] for r in relay_runs(stage)], ["0"] * len(takes))

    def test_file_holds_each_sensor_frame_of_the_take_once(self):
        # One frame per 1/30 s from the connection to the Stop click, and the sensor's frames of
        # that span in order, each once: through an encoder that reads nothing for its first
        # 300 ms, and through one that pauses for a second in the middle of the take.
        for fault, seconds in (("late-start", LATE_START_TAKE_SECONDS),
                               ("pause", ACCURACY_TAKE_SECONDS)):
            with self.subTest(fault):
                stage = self.make_stage()
                with self.recorder(stage, relay_env(stage, fault=fault)) as rec:
                    path = f"{fault}.mp4"
                    take = Take(rec, path).start(CONNECT_TIMEOUT)
                    time.sleep(seconds)
                    take.stop(STOP_TIMEOUT)
                    final = self.assert_renamed_take(take, path, stage.dir)
                    report = FrameReport.of(video.decode_frame_numbers(final))
                    ran, uncertainty = take.ran
                    expected = ran * FRAMES_PER_SECOND
                    print(f"{fault}: ran {ran:.3f} s (+-{uncertainty * 1000:.0f} ms), "
                          f"expected {expected:.1f} frames; {report.describe()}", flush=True)
                    self.assertLessEqual(abs(report.count - expected),
                                         1 + uncertainty * FRAMES_PER_SECOND,
                                         f"{report.count} frames where {expected:.1f} were due")
                    self.assertEqual((report.backwards, report.missing, report.repeated),
                                     ([], [], 0), report.describe())

    # Starts that fail -----------------------------------------------------------------------

    def test_failed_starts_show_the_box_and_leave_the_program_ready(self):
        # No encoder to be found, a path that would break the command line, and encoders that
        # never open the pipe: each ends with the box, idle buttons and no encoder left.
        with self.subTest("no ffmpeg.exe to be found"):
            stage = self.make_stage(encoder=False)
            with self.recorder(stage, relay_env(stage)) as rec:
                Take(rec, "first.mp4").click_start()
                self.assert_error_box(rec, FAILED_START_TEXT, CONNECT_TIMEOUT)
                self.assert_idle_without_encoder(rec)
                # Once an encoder can be found, the same run records.
                shutil.copy2(os.path.join(env.bin_dir(), "ffmpeg.exe"), stage.path("ffmpeg.exe"))
                take = Take(rec, "second.mp4").start(CONNECT_TIMEOUT)
                time.sleep(SHORT_TAKE_SECONDS)
                take.stop(STOP_TIMEOUT)
                final = self.assert_renamed_take(take, "second.mp4", stage.dir)
                self.assert_mp4(final, take.ran[0])

        with self.subTest("path with a double quote"):
            stage = self.make_stage()
            with self.recorder(stage, relay_env(stage)) as rec:
                Take(rec, 'say "cheese".mp4').click_start()
                self.assert_error_box(rec, FAILED_START_TEXT, CONNECT_TIMEOUT)
                self.assert_idle_without_encoder(rec)
                self.assertEqual(relay_runs(stage), [], "an encoder was started")
                self.assertEqual(stage_files(stage, r".*cheese.*"), [])
                take = Take(rec, "cheese.mp4").start(CONNECT_TIMEOUT)
                time.sleep(SHORT_TAKE_SECONDS)
                take.stop(STOP_TIMEOUT)
                self.assert_mp4(self.assert_renamed_take(take, "cheese.mp4", stage.dir))

        # The box comes at once when the encoder ends, after the connection wait when it hangs.
        for fault, (earliest, latest) in {"no-open-exit": (0.0, 8.0),
                                          "no-open-hang": (5.0, NO_OPEN_BOX_TIMEOUT)}.items():
            with self.subTest(fault):
                stage = self.make_stage()
                with self.recorder(stage, relay_env(stage, fault=fault)) as rec:
                    Take(rec, "never.mp4").click_start()
                    appeared = self.assert_error_box(rec, FAILED_START_TEXT, latest)
                    self.assertGreaterEqual(appeared, earliest)
                    self.assert_idle_without_encoder(rec)
                    self.assertEqual(len(relay_runs(stage)), 1)
                    self.assert_other_copy_records()

    # Recordings whose encoder fails ---------------------------------------------------------

    def test_encoder_that_ends_early_stops_the_recording_with_a_message(self):
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage, fault="read-few-exit")) as rec:
            Take(rec, "early.mp4").start(CONNECT_TIMEOUT)
            self.assert_error_box(rec, ENCODER_LOST_TEXT, 15.0)
            self.assert_idle_without_encoder(rec)
            self.assert_quiet(rec)
            self.assert_other_copy_records()

    def test_picture_moves_and_stop_is_bounded_while_the_encoder_stalls(self):
        # The picture keeps moving while the encoder takes nothing; the stop gives the stalled
        # encoder up within its bounds and ends it; the next take of the same run records.
        stage = self.make_stage()
        extra = dict(relay_env(stage, fault="read-few-stall"), NVR_RELAY_FAULT_FIRST_ONLY="1")
        with self.recorder(stage, extra) as rec:
            take = Take(rec, "stalled.mp4").start(CONNECT_TIMEOUT)
            time.sleep(SHORT_TAKE_SECONDS)
            shown = []
            for _ in range(2):
                shot, client = rec.client_shot(rec.output)
                shown.append(image.frame_number_on_screen(shot, client))
                time.sleep(1.0)
            self.assertGreaterEqual(shown[1] - shown[0], FRAMES_PER_SECOND // 2,
                                    f"the picture showed frames {shown} a second apart")
            take.click_stop()
            stopped = take.wait_stopped(STALLED_STOP_BOUND)
            self.assertIsNotNone(stopped, f"Stop did not return within {STALLED_STOP_BOUND} s")
            print(f"stop took {stopped.latest - take.stop_clicked.earliest:.2f} s", flush=True)
            self.assertTrue(is_idle(rec))
            self.assert_quiet(rec)
            # An encoder that stopped taking frames and did not end within the wait is hung:
            # the stop ends it.
            self.wait_until(lambda: not encoders_of(self.driver, rec.pid), 10.0,
                            message="the hung encoder's end")
            take = Take(rec, "next.mp4").start(CONNECT_TIMEOUT)
            time.sleep(SHORT_TAKE_SECONDS)
            take.stop(STOP_TIMEOUT)
            self.assert_mp4(self.assert_renamed_take(take, "next.mp4", stage.dir), take.ran[0])

    def test_slow_encoder_gets_every_frame_and_is_left_to_finish(self):
        # An encoder that reads about 10 frames a second and needs 7 s to finish after its
        # input ends: the stop hands it what is queued, waits its bound, renames the finished
        # file and never ends the encoder, which exits on its own with success.
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage, fault="slow-read")) as rec:
            take = Take(rec, "slow.mp4").start(CONNECT_TIMEOUT)
            time.sleep(SHORT_TAKE_SECONDS)
            take.stop(STOP_TIMEOUT)
            took = take.stopped.mid - take.stop_clicked.mid
            self.assertGreaterEqual(took, ENCODER_EXIT_WAIT - 0.5)
            self.assertLess(took, SLOW_STOP_BOUND)
            self.assertTrue(is_idle(rec))
            self.assert_quiet(rec)
            self.wait_until(lambda: not encoders_of(self.driver, rec.pid), ENCODER_END_TIMEOUT,
                            message="the slow encoder's end")
            runs = relay_runs(stage)
            self.assertEqual([run["exit"] for run in runs], ["0"], runs)
            final = self.assert_renamed_take(take, "slow.mp4", stage.dir)
            info = self.assert_mp4(final)
            self.assertEqual(info["frames"], int(runs[0]["frames"]))

    def test_second_copy_cannot_record_while_the_first_does(self):
        first_stage = self.make_stage()
        with self.recorder(first_stage, relay_env(first_stage)) as first:
            take = Take(first, "first copy.mp4").start(CONNECT_TIMEOUT)
            second_stage = self.make_stage()
            second = CompanionRecorder(second_stage, self.driver, relay_env(second_stage))
            self.addCleanup(second.kill)
            with second:
                Take(second, "second copy.mp4").click_start()
                self.assert_error_box(second, FAILED_START_TEXT, CONNECT_TIMEOUT)
                self.assert_idle_without_encoder(second)
                self.assertEqual(relay_runs(second_stage), [], "the second copy started an encoder")
                self.assertFalse(is_idle(first), "the first copy's recording was disturbed")

                time.sleep(SHORT_TAKE_SECONDS)
                take.stop(STOP_TIMEOUT)
                final = self.assert_renamed_take(take, "first copy.mp4", first_stage.dir)
                self.assert_mp4(final, take.ran[0])
                report = FrameReport.of(video.decode_frame_numbers(final))
                self.assertEqual(report.backwards, [], report.describe())

                # With the first recording over, the second copy records.
                again = Take(second, "second copy.mp4").start(CONNECT_TIMEOUT)
                time.sleep(SHORT_TAKE_SECONDS)
                again.stop(STOP_TIMEOUT)
                self.assert_mp4(self.assert_renamed_take(again, "second copy.mp4",
                                                         second_stage.dir))

    # Names that collide, and ending the program while recording ------------------------------

    def test_second_take_of_a_path_in_the_same_minutes_keeps_its_start_name(self):
        # Both takes must start and end in the same minute: begin early in a minute.
        if time.localtime().tm_sec > 40:
            time.sleep(60.5 - time.time() % 60)
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage)) as rec:
            first = Take(rec, "same.mp4").record(SHORT_TAKE_SECONDS)
            first_file = self.assert_renamed_take(first, "same.mp4", stage.dir)
            first_name = env.read_last_path()
            before = (os.stat(first_file).st_mtime_ns, file_digest(first_file))

            second = Take(rec, "same.mp4").record(SHORT_TAKE_SECONDS)
            self.assertIn(first_name, second.possible_final_names("same.mp4"),
                          "the takes did not fall into the same minutes")
            self.assertEqual(env.read_last_path(), first_name)
            self.assertEqual((os.stat(first_file).st_mtime_ns, file_digest(first_file)), before,
                             "the first take's file was changed")
            self.assertEqual(stage_files(stage, r"same\.mp4.*"),
                             sorted(["same.mp4", os.path.basename(first_file)]))
            self.assert_mp4(stage.path("same.mp4"), second.ran[0])

    def test_quit_while_recording_leaves_the_file_under_its_start_name(self):
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage)) as rec:
            take = Take(rec, "quit take.mp4").start(CONNECT_TIMEOUT)
            time.sleep(TAKE_SECONDS)
            quit_at = time.monotonic()
            self.driver.command(rec.control, IDM_QUIT)
            self.assertEqual(rec.wait_exit(EXIT_TIMEOUT), 0)
            self.wait_until(lambda: not encoders_of(self.driver, rec.pid), ENCODER_END_TIMEOUT,
                            message="the encoder's end after the program's")
            self.assertEqual(stage_files(stage, r"quit take\.mp4.*"), ["quit take.mp4"])
            self.assert_mp4(stage.path("quit take.mp4"), quit_at - take.connected.mid)
            self.assertEqual(env.read_last_path(), "quit take.mp4")
            self.assertEqual([r["exit"] for r in relay_runs(stage)], ["0"])


if __name__ == "__main__":
    unittest.main()
