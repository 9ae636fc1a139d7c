"""The skeleton file beside a take: its rows against the video's frames and what the simulated
runtime delivered, the File menu's switch across takes and runs, and a file that can't be made."""

import os
import time
import unittest

from nvr import RecorderTestCase, env, projection, skeleton, video
from nvr.recorder import IDM_QUIT, IDM_SAVE_SKELETON
from nvr.recording import FRAMES_PER_SECOND, Take, relay_env

TAKE_SECONDS = 4.0
SHORT_TAKE_SECONDS = 1.5
EXIT_TIMEOUT = 15.0
WARNING_CAPTION = "Nimbra VIZ Recorder"
TRACKED = "0,2"


def skeleton_file(video_path):
    """The skeleton file's path beside a video: the video's stem + .skeleton.csv."""
    return os.path.splitext(video_path)[0] + ".skeleton.csv"


class SkeletonDataTests(RecorderTestCase):

    def setUp(self):
        super().setUp()
        env.reset_settings()

    def final_video(self, stage, name):
        """The one renamed video of `name` in the stage."""
        finals = [n for n in os.listdir(stage.dir)
                  if n.startswith(name + "_") and n.endswith(".mp4")]
        self.assertEqual(len(finals), 1, os.listdir(stage.dir))
        return stage.path(finals[0])

    def test_rows_line_up_with_the_video_and_the_delivered_joints(self):
        stage = self.make_stage()
        extra = dict(relay_env(stage), NVR_SIM_TRACKED=TRACKED,
                     NVR_SIM_SKELETON_LOG=stage.windows_path("skeletons.txt"))
        with self.recorder(stage, extra) as rec:
            self.driver.command(rec.control, IDM_SAVE_SKELETON)
            Take(rec, "take.mp4").record(TAKE_SECONDS)
            self.assertEqual(rec.dialogs(), [])
        final = self.final_video(stage, "take.mp4")
        self.assertFalse(os.path.exists(stage.path("take.skeleton.csv")))
        rows = skeleton.read_csv(skeleton_file(final))
        numbers = video.decode_frame_numbers(final)
        delivered = skeleton.read_sim_log(stage.path("skeletons.txt"))
        tracked = sorted(int(r) for r in TRACKED.split(","))

        by_frame = {}
        for row in rows:
            by_frame.setdefault(row["frame"], []).append(row)
        self.assertLessEqual(max(by_frame), len(numbers) - 1, "rows for frames the video lacks")
        first = min(by_frame)
        self.assertLess(first, FRAMES_PER_SECOND, "no rows in the take's first second")
        inferred = 0
        for frame in range(first, len(numbers)):
            frame_rows = by_frame.get(frame, [])
            with self.subTest(frame=frame):
                self.assertEqual([r["skeleton"] for r in frame_rows], tracked)
                for row in frame_rows:
                    # The picture shown at frame / 30 s is the colour frame the row names.
                    self.assertEqual(row["color_frame"] % 65536, numbers[frame])
                    self.assertAlmostEqual(row["time_s"], frame / FRAMES_PER_SECOND, places=6)
                    self.assertEqual(row["color_time_ms"], row["color_frame"] * 1000 // 30)
                    # The skeleton frame is one the runtime delivered by then, at most a pass
                    # before or after the colour frame, with exactly its joints.
                    sent = delivered[row["skeleton_frame"]]
                    self.assertLessEqual(abs(row["skeleton_frame"] - row["color_frame"]), 2)
                    self.assertEqual(row["skeleton_time_ms"], sent["time_ms"])
                    record = sent["records"][row["skeleton"]]
                    self.assertEqual(row["tracking_id"], record["id"])
                    for (x, y, z, u, v, state), joint in zip(row["joints"], record["joints"]):
                        self.assertEqual((x, y, z, state), joint)
                        self.assertEqual((u, v), projection.skeleton_to_screen(x, y, z))
                        inferred += state == 1
        self.assertGreater(inferred, 0, "no inferred joint in the whole take")
        previous = [r["skeleton_frame"] for r in rows]
        self.assertEqual(previous, sorted(previous), "skeleton frames going backwards")

    def test_switch_is_off_by_default_kept_across_runs_and_applies_to_the_next_take(self):
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage)) as rec:
            Take(rec, "a.mp4").record(SHORT_TAKE_SECONDS)
            self.driver.command(rec.control, IDM_SAVE_SKELETON)
            self.driver.command(rec.control, IDM_QUIT)
            self.assertEqual(rec.wait_exit(EXIT_TIMEOUT), 0)
        self.assertEqual(env.read_setting("SaveSkeletonData"), "1")
        with self.recorder(stage, relay_env(stage)) as rec:
            Take(rec, "b.mp4").record(SHORT_TAKE_SECONDS)
            # Switched off during a take: that take keeps its file, the next has none.
            take = Take(rec, "c.mp4").start()
            self.driver.command(rec.control, IDM_SAVE_SKELETON)
            time.sleep(SHORT_TAKE_SECONDS)
            take.stop()
            Take(rec, "d.mp4").record(SHORT_TAKE_SECONDS)
        self.assertEqual(env.read_setting("SaveSkeletonData"), "0")
        has_file = [os.path.exists(skeleton_file(self.final_video(stage, name)))
                    for name in ("a.mp4", "b.mp4", "c.mp4", "d.mp4")]
        self.assertEqual(has_file, [False, True, True, False], "a, b, c, d")
        self.assertEqual([n for n in os.listdir(stage.dir) if n.endswith(".csv")
                          and "_" not in n], [], "a skeleton file left under a start name")

    def test_a_file_that_cannot_be_made_spoils_nothing_and_is_reported_after_the_stop(self):
        stage = self.make_stage()
        os.mkdir(stage.path("blocked.skeleton.csv"))  # the name is taken by a folder
        with self.recorder(stage, relay_env(stage)) as rec:
            self.driver.command(rec.control, IDM_SAVE_SKELETON)
            take = Take(rec, "blocked.mp4").start()
            time.sleep(SHORT_TAKE_SECONDS)
            self.assertEqual(rec.dialogs(), [], "told before the stop")
            take.stop()
            box = self.wait_until(lambda: rec.dialogs(), 10.0, message="the warning")
            expected = ("Skeleton data could not be saved:\n" +
                        stage.windows_path("blocked.skeleton.csv"))
            self.assertEqual([(d.caption, d.text) for d in box], [(WARNING_CAPTION, expected)])
            self.driver.press(box[0].hwnd, 1)
        final = self.final_video(stage, "blocked.mp4")
        info = video.ffprobe_info(final)
        ran = take.ran[0]
        self.assertLessEqual(abs(info["frames"] - ran * FRAMES_PER_SECOND), 3, info)


if __name__ == "__main__":
    unittest.main()
