"""Depth beside the video: the lossless depth file frame for frame with the video, the frames
file that lines the streams and the host clock up, the take file, the switch across takes, and a
depth encoder that fails."""

import json
import os
import time
import unittest

from nvr import RecorderTestCase, depth, env, video
from nvr.recorder import IDM_SAVE_DEPTH, IDOK
from nvr.recording import (ERROR_CAPTION, Take, last_take_file, relay_env, relay_runs,
                           wait_saved)

TAKE_SECONDS = 3.0


def stem(path):
    return os.path.splitext(path)[0]


class DepthTests(RecorderTestCase):

    def setUp(self):
        super().setUp()
        env.reset_settings()
        # The prefix's settings are shared: the tests after these must not find Save Depth on.
        self.addCleanup(env.reset_settings)

    def test_depth_file_holds_the_newest_depth_frame_of_each_video_frame(self):
        for size, extra in (((640, 480), {}), ((320, 240), {"NVR_SIM_DEPTH_640": "0"})):
            env.reset_settings()
            stage = self.make_stage()
            with self.subTest(size=size), \
                    self.recorder(stage, {**relay_env(stage), **extra}) as rec:
                self.driver.command(rec.control, IDM_SAVE_DEPTH)
                Take(rec, "take.mp4").record(TAKE_SECONDS)
                self.assertEqual(rec.dialogs(), [])
                final = last_take_file(stage.dir)
                colour = video.decode_frame_numbers(final)
                mkv = stem(final) + ".depth.mkv"
                probe = env.run_checked(
                    ["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                     "stream=codec_name,width,height,pix_fmt", "-of", "csv=p=0", mkv], 60)
                self.assertEqual(probe.decode().strip(), f"ffv1,{size[0]},{size[1]},gray16le")
                frames = depth.decode_depth(mkv, *size)
                self.assertEqual(len(frames), len(colour))
                rows = depth.read_frames_csv(stem(final) + ".frames.csv")
                self.assertEqual([r["frame"] for r in rows], list(range(len(colour))))
                self.assertEqual([r["color_frame"] for r in rows], colour)
                # The newest depth frame when the colour one was taken: the depth camera runs
                # 13 ms behind, so it is the one before, however late the pass that took them
                # (two before only where the runtime dropped one).
                lags = {r["color_frame"] - r["depth_frame"] for r in rows
                        if r["depth_frame"] is not None}
                self.assertIn(1, lags)
                self.assertLessEqual(lags, {1, 2}, lags)
                for n, values in enumerate(frames):
                    if rows[n]["depth_frame"] is None:
                        self.assertEqual(set(values), {0}, f"frame {n} before any depth")
                        continue
                    self.assertEqual(depth.frame_number(values, size[0]),
                                     rows[n]["depth_frame"] % 65536, f"frame {n}")
                # The two tracked people (records 0 and 1) carry player indices 1 and 2 only.
                players = depth.player_indices(frames[-1])
                self.assertEqual(sorted(players), [1, 2], players)
                # The host clock rises with the video's time, within a pass or two.
                drift = [(r["host_time"] - rows[0]["host_time"]).total_seconds() -
                         (r["time_s"] - rows[0]["time_s"]) for r in rows]
                self.assertLess(max(map(abs, drift)), 0.2, drift)
                with open(stem(final) + ".take.json", encoding="utf-8") as take_file:
                    take = json.load(take_file)
                self.assertEqual((take["frames"], take["files"]["video"],
                                  take["streams"]["depth"]["width"],
                                  take["streams"]["depth"]["focal_length_px"]),
                                 (len(colour), os.path.basename(final), size[0],
                                  571.26 if size[0] == 640 else 285.63))

    def test_switch_takes_effect_at_the_next_take_and_no_sensor_records_no_depth(self):
        stage = self.make_stage()
        with self.recorder(stage, relay_env(stage)) as rec:
            take = Take(rec, "first.mp4").start()
            self.driver.command(rec.control, IDM_SAVE_DEPTH)
            time.sleep(1.5)
            take.stop()
            self.assertFalse(os.path.exists(stem(last_take_file(stage.dir)) + ".depth.mkv"))
            Take(rec, "second.mp4").record(1.5)
            self.assertTrue(os.path.exists(stem(last_take_file(stage.dir)) + ".depth.mkv"))
        self.assertEqual(env.read_setting("SaveDepth"), "1")

        stage = self.make_stage(sensor=False)
        with self.recorder(stage, relay_env(stage)) as rec:
            Take(rec, "blind.mp4").record(1.5)
            final = last_take_file(stage.dir)
            self.assertGreater(video.ffprobe_info(final)["frames"], 0)
            self.assertFalse(os.path.exists(stem(final) + ".depth.mkv"))

    def test_a_depth_encoder_that_dies_or_stalls_ends_the_take_and_keeps_the_whole_video(self):
        # The video's own encoder is left to finish: its file plays every frame it took.
        cases = (("read-few-exit", "FFmpeg ended unexpectedly while writing depth", 15.0),
                 ("stall", "FFmpeg stopped taking depth frames", 20.0))
        for fault, message, within in cases:
            env.reset_settings()
            stage = self.make_stage()
            extra = {**relay_env(stage, fault), "NVR_RELAY_FAULT_PIPE": "vuduvazidozu-depth"}
            with self.subTest(fault), self.recorder(stage, extra) as rec:
                self.driver.command(rec.control, IDM_SAVE_DEPTH)
                Take(rec, "lost.mp4").start()
                box = rec.message_box(ERROR_CAPTION, within)
                self.assertEqual(box.text, f"Recording stopped: {message}:\n"
                                 + stage.windows_path("lost.depth.mkv"))
                self.driver.press(box.hwnd, IDOK)
                self.assertIsNotNone(wait_saved(rec, 30.0))
                runs = [r for r in relay_runs(stage) if "vuduvazidozu-depth" not in r["cmdline"]]
                self.assertEqual(len(runs), 1, "the video's encoder did not finish by itself")
                taken = int(runs[0]["frames"])
                self.assertGreater(taken, 0)
                self.assertEqual(video.ffprobe_info(last_take_file(stage.dir))["frames"], taken)


if __name__ == "__main__":
    unittest.main()
