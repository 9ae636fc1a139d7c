"""The control window's status line, read as a screen reader reads it (WM_GETTEXT): the idle
line, the running take's line and the saved take's."""

import re
import time
import unittest

from nvr import RecorderTestCase, env, video
from nvr.recording import Take, relay_env, status_text

REC_LINE = re.compile(r"^REC (\d+):(\d\d):(\d\d) \u00b7 ([\d,]+) frames \u00b7 ([\d,]+) dropped"
                      r"(?: \u00b7 [\d,]+ repeated)? \u00b7 [\d.]+ [GM]B free \(.+\)$")
SAVED_LINE = re.compile(r"^Saved (\d+):(\d\d):(\d\d) \u00b7 ([\d,]+) frames \u00b7 ([\d,]+) "
                        r"dropped: (.+)$")


class StatusLineTests(RecorderTestCase):

    def test_idle_recording_and_saved_lines(self):
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage)) as rec:
            # "Ready." alone until the free space is read, off the window's thread.
            idle = re.compile(r"^Ready\. [\d.]+ [GM]B free on Z:\\ \(.+\)$")
            self.wait_until(lambda: idle.match(status_text(rec)), 5.0,
                            message="the idle line with the free space")
            take = Take(rec, "status.mp4").start()
            time.sleep(1.0)
            lines = [status_text(rec)]
            time.sleep(1.0)
            lines.append(status_text(rec))
            matches = [REC_LINE.match(line) for line in lines]
            self.assertTrue(all(matches), lines)
            frames = [int(m[4].replace(",", "")) for m in matches]
            self.assertGreater(frames[1], frames[0] + 15, lines)
            # The time is the video's length: frames / 30.
            for m, count in zip(matches, frames):
                self.assertEqual(int(m[1]) * 3600 + int(m[2]) * 60 + int(m[3]), count // 30)
            take.stop()
            saved = SAVED_LINE.match(status_text(rec))
            self.assertIsNotNone(saved, status_text(rec))
            final = env.read_last_path()
            self.assertEqual(saved[6], final.rsplit("\\", 1)[-1])
            held = video.ffprobe_info(stage.path(saved[6]))["frames"]
            self.assertEqual(int(saved[4].replace(",", "")), held)

    def test_a_long_encoder_pause_warns_and_counts_the_frames_the_video_misses(self):
        # 4 s without reading is more than the program's queue holds: frames are dropped.
        stage = self.make_stage()
        extra = {**relay_env(stage, "pause"), "NVR_RELAY_PAUSE_MS": "4000"}
        with self.recorder(stage, extra) as rec:
            take = Take(rec, "paused.mp4").start()
            warned = self.wait_until(
                lambda: status_text(rec).startswith("Warning: frames are being dropped. REC "),
                15.0, interval=0.2, message="the dropped-frames warning")
            self.assertTrue(warned)
            time.sleep(3.0)
            take.stop()
            saved = SAVED_LINE.match(status_text(rec))
            self.assertIsNotNone(saved, status_text(rec))
            held = video.ffprobe_info(stage.path(saved[6]))["frames"]
            dropped = int(saved[5].replace(",", ""))
            due = take.ran[0] * 30
            self.assertGreater(dropped, 30)
            # The dropped frames are the ones the video misses against the take's timeline.
            self.assertLess(abs(due - held - dropped), 3 + take.ran[1] * 30,
                            f"{held} frames held, {dropped} dropped, {due:.1f} due")


if __name__ == "__main__":
    unittest.main()
