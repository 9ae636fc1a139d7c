"""No take is lost: a crashed encoder, a full disk and a stalled encoder each end the take with
a message and keep a file that plays what the encoder was given (fragmented MP4), a normal stop
leaves a standard MP4 with its index in front, and the take's files move together or keep
their start names with a message."""

import os
import subprocess
import time
import unittest

from nvr import RecorderTestCase, env, video
from nvr.recording import (DISK_FULL_TEXT, ENCODER_LOST_TEXT, ENCODER_STALLED_TEXT,
                           ERROR_CAPTION, FINAL_NAME, FRAMES_PER_SECOND, KEPT_FIRST_NAME_TEXT, Take,
                           is_idle, last_take_file, relay_env, relay_runs, status_text,
                           take_final_names, wait_for, wait_saved)
from nvr.recorder import ID_PATH_EDIT, IDM_SAVE_SKELETON, IDOK
from nvr.stage import ENCODER

TIMEOUT = 30.0
APP_CAPTION = "Nimbra VIZ Recorder"
MB = 1024 * 1024


class TakeSafetyTests(RecorderTestCase):

    def press_box(self, rec, caption, text, timeout):
        """Waits for the box, checks its text, presses OK; returns when it appeared
        (time.monotonic())."""
        box = rec.message_box(caption, timeout)
        seen = time.monotonic()
        self.assertEqual(box.text, text)
        self.driver.press(box.hwnd, IDOK)
        self.driver.wait_gone(box.hwnd, 5.0)
        return seen

    def assert_plays_what_was_handed_over(self, path, frames_handed):
        """The file plays every frame the encoder took but at most the last second's (and the
        one frame the relay may have read as its ffmpeg was killed)."""
        info = video.ffprobe_info(path)
        self.assertEqual((info["codec"], info["width"], info["height"]), ("h264", 640, 480))
        self.assertLessEqual(info["frames"], frames_handed)
        self.assertGreaterEqual(info["frames"], frames_handed - FRAMES_PER_SECOND - 1,
                                f"{info['frames']} of {frames_handed} frames play")
        return info["frames"]

    def no_encoder_left(self):
        return not [p for p in self.driver.processes() if p.exe.lower() == ENCODER]

    def test_normal_stop_leaves_a_standard_mp4_with_every_frame(self):
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage)) as rec:
            take = Take(rec, "standard.mp4").record(3.0)
            final = env.read_last_path()
            self.assertIsNotNone(FINAL_NAME.match(final), final)
            path = last_take_file(stage.dir)
            boxes = video.top_level_boxes(path)
            self.assertLess(boxes.index("moov"), boxes.index("mdat"), boxes)
            self.assertNotIn("moof", boxes)
            taken = int(relay_runs(stage)[0]["frames"])
            self.assertEqual(video.ffprobe_info(path)["frames"], taken)
            self.assertFalse(os.path.exists(stage.path("standard.mp4")))
            self.assertEqual([r["exit"] for r in relay_runs(stage, rewrites=True)], ["0"])
            print(f"stop to named standard file: {take.saved.mid - take.stop_clicked.mid:.2f} s")

    def test_killed_or_stalled_encoder_ends_the_take_and_keeps_its_frames(self):
        # The real encoder killed 4 s into the take, a launcher whose encoder stalls after 2 s
        # for good: each take ends with its message, keeps what the encoder was given, leaves
        # no encoder process, and the next take of the run records.
        cases = (("kill-after-4s", {}, ENCODER_LOST_TEXT, 15.0),
                 ("launcher", {"NVR_RELAY_CHILD_FAULT": "stall"}, ENCODER_STALLED_TEXT, 20.0))
        for fault, extra, text, within in cases:
            stage = self.make_stage()
            with self.subTest(fault), \
                    self.recorder(stage, {**relay_env(stage, fault, True), **extra}) as rec:
                take = Take(rec, f"{fault}.mp4").start(TIMEOUT)
                seen = self.press_box(rec, ERROR_CAPTION, text, within)
                print(f"{fault}: message {seen - take.connected.mid:.1f} s into the take")
                self.assertIsNotNone(wait_saved(rec, TIMEOUT))
                self.assertTrue(is_idle(rec))
                self.wait_until(self.no_encoder_left, 10.0, message="no ffmpeg.exe left")
                runs = relay_runs(stage)
                handed = int(runs[0]["frames"])
                kept = self.assert_plays_what_was_handed_over(last_take_file(stage.dir), handed)
                print(f"{fault}: {kept} of {handed} frames handed over play")
                Take(rec, "next.mp4").record(1.5)
                self.assertGreater(video.ffprobe_info(last_take_file(stage.dir))["frames"], 0)

    def test_skeleton_file_that_cannot_be_moved_keeps_both_names(self):
        stage = self.make_stage()
        take_final_names(stage, "pair.mp4", ".skeleton.csv")
        with self.recorder(stage, relay_env(stage)) as rec:
            self.driver.command(rec.control, IDM_SAVE_SKELETON)
            try:
                take = Take(rec, stage.windows_path("pair.mp4")).start(TIMEOUT)
                time.sleep(1.5)
                take.click_stop()
                self.press_box(rec, APP_CAPTION,
                               KEPT_FIRST_NAME_TEXT + stage.windows_path("pair.mp4"), TIMEOUT)
            finally:
                self.driver.command(rec.control, IDM_SAVE_SKELETON)
            self.assertTrue(os.path.exists(stage.path("pair.mp4")))
            self.assertTrue(os.path.exists(stage.path("pair.skeleton.csv")))
            # The switch's write may be rewriting the settings file at this moment.
            last = self.wait_until(env.read_last_path, 5.0, message="LastPath readable")
            self.assertEqual(last, stage.windows_path("pair.mp4"))

    def test_a_take_being_saved_is_safe_from_a_start_to_its_path(self):
        # The encoder takes 7 s to finish the first take: a Start to the same path meanwhile is
        # told so (no question to replace the file), and the first take is saved whole.
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage, "slow-finish", True)) as rec:
            first = Take(rec, "again.mp4").start(TIMEOUT)
            time.sleep(1.5)
            first.click_stop()
            self.assertIsNotNone(wait_for(lambda: is_idle(rec), TIMEOUT))
            Take(rec).click_start()
            self.press_box(rec, APP_CAPTION,
                           "The last recording to this file is still being saved:\n"
                           + stage.windows_path("again.mp4") + "\nStart again once it is saved.",
                           TIMEOUT)
            self.assertTrue(is_idle(rec))
            self.assertIsNotNone(wait_saved(rec, TIMEOUT))
            self.assertIsNotNone(FINAL_NAME.match(env.read_last_path()))
            self.assertEqual(video.ffprobe_info(last_take_file(stage.dir))["frames"],
                             int(relay_runs(stage)[0]["frames"]))
            # Once it is saved, the path records again.
            Take(rec).record(1.0)
            self.assertEqual(len(relay_runs(stage)), 2)

    def test_a_full_disk_refuses_the_start_and_ends_a_take_in_time(self):
        stage = self.make_stage()
        disk = stage.path("disk")
        os.makedirs(disk)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=320m", "tmpfs", disk],
                                 capture_output=True)
        if mounted.returncode != 0:
            self.skipTest(f"no small disk can be made here: {mounted.stderr.decode().strip()}")
        self.addCleanup(subprocess.run, ["umount", "-l", disk])
        filler = os.path.join(disk, "filler")

        def fill_to(free_bytes):
            stat = os.statvfs(disk)
            used = os.path.getsize(filler) if os.path.exists(filler) else 0
            size = used + stat.f_bavail * stat.f_frsize - free_bytes
            subprocess.run(["fallocate", "-l", str(size), filler], check=True)

        target = stage.windows_path("disk", "full.mp4")
        with self.recorder(stage, relay_env(stage)) as rec:
            fill_to(200 * MB)
            Take(rec, target).click_start()
            self.press_box(rec, APP_CAPTION,
                           "Not enough free space to record to:\n" + target[:-len("full.mp4")],
                           TIMEOUT)
            self.assertTrue(is_idle(rec))
            self.assertEqual(relay_runs(stage), [])

            os.remove(filler)
            take = Take(rec, target).start(TIMEOUT)
            # The take's line tells of the take's disk, whatever the box names meanwhile.
            self.driver.set_text(rec.child(ID_PATH_EDIT), stage.windows_path("elsewhere.mp4"))
            time.sleep(3.0)
            # (Under 5 minutes to the take's floor at the assumed rate: it warns as well.)
            self.assertRegex(status_text(rec), r"REC .* MB free \(")
            fill_to(60 * MB)
            crossed = time.monotonic()
            seen = self.press_box(rec, ERROR_CAPTION, DISK_FULL_TEXT, TIMEOUT)
            self.assertLess(seen - crossed, 2.0)
            self.assertIsNotNone(wait_saved(rec, TIMEOUT))
            handed = int(relay_runs(stage)[0]["frames"])
            kept = self.assert_plays_what_was_handed_over(last_take_file(disk), handed)
            print(f"full disk: {kept} of {handed} frames handed over play "
                  f"({crossed - take.connected.mid:.1f} s into the take)")


if __name__ == "__main__":
    unittest.main()
