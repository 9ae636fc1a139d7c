"""Recording through the control window's buttons under Wine, into real MP4 files made by the
encoder relay: the files' names, format and frames, and every way a recording can fail to start
or end early, each of which must leave the program ready for the next recording."""

import os
import shutil
import time
import unittest

from nvr import RecorderTestCase, env, image, video
from nvr.recorder import ID_PATH_EDIT, IDM_QUIT, Recorder
from nvr.recording import (ENCODER_LOST_TEXT, ENCODER_STALLED_TEXT, ERROR_CAPTION,
                           FAILED_START_TEXT, FINAL_NAME,
                           FRAMES_PER_SECOND, FrameReport, Take, clock_24h, encoders_of, is_idle,
                           on_timeline, relay_env, relay_runs, stage_files)
from nvr.stage import ENCODER

SHORT_TAKE_SECONDS = 1.5
# The program gives an encoder 10 s to open the pipe; a stop gives a stalled encoder 2 s without
# progress and 5 s to end, a slow one at most 5 s to take what is queued and 5 s to end:
# generous bounds above those.
NO_OPEN_BOX_TIMEOUT = 30.0
STOP_BOUND = 15.0
ENCODER_EXIT_WAIT = 5.0
# The relay's Linux ffmpeg finishes a file in well under this.
ENCODER_END_TIMEOUT = 60.0
QUIET_PERIOD = 1.5


def full_path(path, folder):
    """The Windows path that the program makes of `path` typed while `folder` (Linux) was its
    current folder."""
    return path if ":" in path else env.to_windows_path(folder).rstrip("\\") + "\\" + path


class RecordingTests(RecorderTestCase):

    # Checks shared by the tests -------------------------------------------------------------

    def assert_mp4(self, path, seconds=None):
        """The file is an H.264, 640x480, yuv420p, 30 fps MP4; with `seconds`, it holds about
        that many seconds of frames. Returns ffprobe's figures."""
        info = video.ffprobe_info(path)
        self.assertEqual((info["codec"], info["width"], info["height"], info["pix_fmt"],
                          info["frame_rate"]), ("h264", 640, 480, "yuv420p", "30/1"), info)
        self.assertIn("mp4", info["format"].split(","), info)
        if seconds is not None:
            expected = seconds * FRAMES_PER_SECOND
            self.assertLess(abs(info["frames"] - expected), 0.2 * expected + 2,
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

    def assert_idle_without_encoder(self, rec, timeout=5.0):
        self.assertTrue(is_idle(rec), "Start should be enabled and Stop disabled")
        self.wait_until(lambda: not encoders_of(self.driver, rec.pid), timeout,
                        message="no encoder process of the program left")

    def assert_renamed_take(self, path, folder):
        """After a stop: the file is under its final name, which is LastPath, and no longer
        under its start name `path` (a bare name is made full against `folder`, the current
        folder at the start). Returns the final name's Linux path."""
        name = FINAL_NAME.match(env.read_last_path() or "")
        self.assertIsNotNone(name, f"LastPath {env.read_last_path()!r} is no final name")
        self.assertEqual(name["path"], full_path(path, folder))
        self.assertFalse(os.path.exists(os.path.join(folder, path.rsplit("\\", 1)[-1])),
                         "the file is still under its start name")
        return os.path.join(folder, name[0].rsplit("\\", 1)[-1])

    def assert_next_take_records(self, rec, stage):
        """A short take of the same run becomes a valid MP4 under its final name."""
        take = Take(rec, "next.mp4").record(SHORT_TAKE_SECONDS)
        self.assert_mp4(self.assert_renamed_take("next.mp4", stage.dir), take.ran[0])

    # Good takes -----------------------------------------------------------------------------

    def test_takes_become_h264_mp4_files_named_after_their_times(self):
        # The default relative path (written in the program's working folder), a path with
        # spaces, and one with characters outside the 8-bit code page. The name's date and
        # times are minutes of the take on the local clock.
        env.reset_settings()
        stage = self.make_stage()
        os.makedirs(stage.path("my takes"))
        takes = [(False, "output.mp4", stage.dir),
                 (True, stage.windows_path("my takes", "take one.mp4"), stage.path("my takes")),
                 (True, stage.windows_path("Видео 東京.mp4"), stage.dir)]
        with self.recorder(stage, relay_env(stage)) as rec:
            self.assertEqual(self.driver.text(rec.child(ID_PATH_EDIT)), "output.mp4")
            for typed, path, folder in takes:
                take = Take(rec, path if typed else None).record(SHORT_TAKE_SECONDS)
                self.assert_mp4(self.assert_renamed_take(path, folder), take.ran[0])
                name = FINAL_NAME.match(env.read_last_path())
                minutes = {time.strftime("%Y-%m-%d %H:%M", time.localtime(t))
                           for t in range(int(take.began), int(take.ended) + 2)}
                self.assertIn(f"{name['date']} {clock_24h(name['start'])}", minutes, name[0])
                self.assertIn(clock_24h(name["end"]), {m[-5:] for m in minutes}, name[0])
            self.assertEqual([r["exit"] for r in relay_runs(stage)], ["0"] * len(takes))

    def test_file_holds_each_sensor_frame_of_the_take_once(self):
        # One frame per 1/30 s from the connection to the Stop click, and the sensor's frames of
        # that span in order, each once: through an encoder that reads nothing for its first
        # 300 ms, and through one that pauses for a second in the middle of the take.
        for fault, seconds in (("late-start", 10.0), ("pause", 6.0)):
            stage = self.make_stage()
            with self.subTest(fault), self.recorder(stage, relay_env(stage, fault=fault)) as rec:
                take = Take(rec, f"{fault}.mp4").record(seconds)
                final = self.assert_renamed_take(f"{fault}.mp4", stage.dir)
                report = FrameReport.of(video.decode_frame_numbers(final))
                ran, uncertainty = take.ran
                self.assertTrue(on_timeline(report.count, ran, uncertainty),
                                f"{report.count - ran * FRAMES_PER_SECOND:+.2f} frames against "
                                f"30 a second; ran {ran:.3f} s (+-{uncertainty:.3f}): "
                                f"{report.describe()}")
                self.assertEqual((report.backwards, report.missing, report.repeated),
                                 ([], [], 0), report.describe())

    def test_takes_in_a_row_leave_no_handles_behind(self):
        # A session of takes holds nothing of the takes before: from the second take to the
        # ninth the program's handles and GDI objects grow by less than one for every two takes.
        # Wine makes a few GDI objects of its own once, at some take of the first few.
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage)) as rec:
            held = {}
            for number in range(1, 10):
                Take(rec, f"row{number}.mp4").record(1.0)
                if number in (2, 9):
                    held[number] = rec.settled_handles()
            for kind, before, after in zip(("handles", "GDI objects"), held[2], held[9]):
                self.assertLessEqual(after - before, 3,
                                     f"{kind}: {before} after take 2, {after} after take 9")

    # Starts that fail -----------------------------------------------------------------------

    def test_failed_starts_show_the_box_and_leave_the_program_ready(self):
        # No encoder to be found, a path that would break the command line, and encoders that
        # never open the pipe (the box at once when one ends, after the connection wait when
        # it hangs): each ends with the box, idle buttons and no encoder left, and the same
        # run then records.
        for fault, (earliest, latest) in (("no-open-hang", (5.0, NO_OPEN_BOX_TIMEOUT)),
                                          ("no-open-exit", (0.0, 8.0))):
            stage = self.make_stage(encoder=(fault == "no-open-exit"))
            with self.subTest(fault), self.recorder(stage, relay_env(stage, fault, True)) as rec:
                if fault == "no-open-hang":
                    Take(rec, "first.mp4").click_start()
                    self.assert_error_box(rec, FAILED_START_TEXT, 30.0)
                    self.assert_idle_without_encoder(rec)
                    shutil.copy2(os.path.join(env.bin_dir(), ENCODER), stage.path(ENCODER))
                    Take(rec, 'say "cheese".mp4').click_start()
                    self.assert_error_box(rec, FAILED_START_TEXT, 30.0)
                    self.assert_idle_without_encoder(rec)
                    self.assertEqual(relay_runs(stage), [], "an encoder was started")
                    self.assertEqual(stage_files(stage, r".*cheese.*"), [])

                Take(rec, "never.mp4").click_start()
                self.assertGreaterEqual(self.assert_error_box(rec, FAILED_START_TEXT, latest),
                                        earliest)
                # A failed start waits (bounded) for the encoder it terminates.
                self.assert_idle_without_encoder(rec)
                self.assertEqual(len(relay_runs(stage)), 1)
                self.assert_next_take_records(rec, stage)

    # Recordings whose encoder fails ---------------------------------------------------------

    def test_encoder_that_ends_early_stops_the_recording_with_a_message(self):
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage, "read-few-exit", True)) as rec:
            Take(rec, "early.mp4").start()
            self.assert_error_box(rec, ENCODER_LOST_TEXT, 15.0)
            self.assert_idle_without_encoder(rec)
            self.assert_quiet(rec)
            self.assert_next_take_records(rec, stage)

    def test_picture_moves_and_stop_is_bounded_while_the_encoder_stalls(self):
        # The picture keeps moving while the encoder takes nothing; the stop gives the stalled
        # encoder up within its bounds and ends it; the next take of the same run records.
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage, "read-few-stall", True)) as rec:
            take = Take(rec, "stalled.mp4").start()
            time.sleep(SHORT_TAKE_SECONDS)
            shown = []
            for _ in range(2):
                shot, client = rec.client_shot(rec.output)
                shown.append(image.frame_number_on_screen(shot, client))
                time.sleep(1.0)
            self.assertGreaterEqual(shown[1] - shown[0], FRAMES_PER_SECOND // 2,
                                    f"the picture showed frames {shown} a second apart")
            take.click_stop()
            # An encoder that stopped taking frames is hung: the stop ends it and says so.
            self.assert_error_box(rec, ENCODER_STALLED_TEXT, STOP_BOUND)
            self.assertIsNotNone(take.wait_stopped(STOP_BOUND),
                                 f"Stop did not return within {STOP_BOUND} s")
            self.assert_quiet(rec)
            self.assert_idle_without_encoder(rec, 10.0)
            self.assert_next_take_records(rec, stage)

    def test_slow_encoder_gets_every_frame_and_is_left_to_finish(self):
        # An encoder that reads about 10 frames a second and needs 7 s to finish after its
        # input ends: the stop hands it what is queued, the take waits for it, names the
        # finished file and never ends the encoder, which exits on its own with success.
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage, fault="slow-read")) as rec:
            take = Take(rec, "slow.mp4").record(SHORT_TAKE_SECONDS)
            took = take.saved.mid - take.stop_clicked.mid
            self.assertGreaterEqual(took, ENCODER_EXIT_WAIT - 0.5)
            self.assertLess(took, STOP_BOUND)
            self.assert_quiet(rec)
            self.assert_idle_without_encoder(rec, ENCODER_END_TIMEOUT)
            runs = relay_runs(stage)
            self.assertEqual([run["exit"] for run in runs], ["0"], runs)
            info = self.assert_mp4(self.assert_renamed_take("slow.mp4", stage.dir))
            self.assertEqual(info["frames"], int(runs[0]["frames"]))

    def test_second_copy_cannot_record_while_the_first_does(self):
        first_stage = self.make_stage()
        with self.recorder(first_stage, relay_env(first_stage)) as first:
            take = Take(first, "first copy.mp4").start()
            second_stage = self.make_stage()
            second = Recorder(second_stage, self.driver, relay_env(second_stage), beside=True)
            self.addCleanup(second.kill)
            with second:
                Take(second, "second copy.mp4").click_start()
                self.assert_error_box(second, FAILED_START_TEXT, 30.0)
                self.assert_idle_without_encoder(second)
                self.assertEqual(relay_runs(second_stage), [], "the second copy started an encoder")
                self.assertFalse(is_idle(first), "the first copy's recording was disturbed")

                time.sleep(SHORT_TAKE_SECONDS)
                take.stop()
                final = self.assert_renamed_take("first copy.mp4", first_stage.dir)
                self.assert_mp4(final, take.ran[0])
                report = FrameReport.of(video.decode_frame_numbers(final))
                self.assertEqual(report.backwards, [], report.describe())
                # With the first recording over, the second copy records.
                self.assert_next_take_records(second, second_stage)

    # Ending the program while recording ------------------------------------------------------

    def test_quit_while_recording_leaves_the_file_under_its_start_name(self):
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage)) as rec:
            take = Take(rec, "quit take.mp4").start()
            time.sleep(SHORT_TAKE_SECONDS)
            quit_at = time.monotonic()
            self.driver.command(rec.control, IDM_QUIT)
            self.assertEqual(rec.wait_exit(15.0), 0)
            self.wait_until(lambda: not encoders_of(self.driver, rec.pid), ENCODER_END_TIMEOUT,
                            message="the encoder's end after the program's")
            self.assertEqual(stage_files(stage, r"quit take\.mp4.*"), ["quit take.mp4"])
            self.assert_mp4(stage.path("quit take.mp4"), quit_at - take.connected.mid)
            self.assertEqual(env.read_last_path(), full_path("quit take.mp4", stage.dir))
            self.assertEqual([r["exit"] for r in relay_runs(stage)], ["0"])


if __name__ == "__main__":
    unittest.main()
