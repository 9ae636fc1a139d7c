"""The sensor comes and goes: pulled during a take, which goes on with the last picture and lists
the time in its take file, and plugged in after start-up. The simulated runtime's plug file
pulls it (NVR_SIM_PLUG). Prints the time from the pull to the warning and from the return to
live frames."""

import datetime
import json
import os
import time
import unittest

from nvr import RecorderTestCase, env, skeleton
from nvr.depth import read_frames_csv
from nvr.recorder import IDM_SAVE_SKELETON
from nvr.recording import Take, last_take_file, relay_env, status_text

NO_SENSOR = "No sensor. Plug the Kinect into USB and its power supply."
WARNING = "Warning: the sensor is disconnected. "
AWAY_SECONDS = 4.0


def plug(stage, plugged):
    with open(stage.path("plug"), "w", encoding="ascii") as plug_file:
        plug_file.write("1" if plugged else "0")
    return time.time()


def wall(moment):
    return datetime.datetime.fromtimestamp(moment, datetime.timezone.utc)


class SensorPlugTests(RecorderTestCase):

    def setUp(self):
        super().setUp()
        env.reset_settings()
        self.addCleanup(env.reset_settings)

    def plugged_recorder(self, stage, plugged):
        plug(stage, plugged)
        return self.recorder(stage, {**relay_env(stage), "NVR_SIM_PLUG": stage.windows_path("plug")})

    def test_a_take_goes_on_without_the_sensor_and_lists_the_time(self):
        stage = self.make_stage()
        with self.plugged_recorder(stage, True) as rec:
            self.driver.command(rec.control, IDM_SAVE_SKELETON)
            take = Take(rec, "pulled.mp4").start()
            time.sleep(2.0)
            pulled = plug(stage, False)
            self.wait_until(lambda: status_text(rec).startswith(WARNING), 1.0, interval=0.02,
                            message="the warning within 1 s of the pull")
            warned = time.time() - pulled
            time.sleep(AWAY_SECONDS - warned)
            self.assertTrue(rec.shows_picture(), "the output window keeps the last picture")
            self.assertTrue(status_text(rec).startswith(WARNING), status_text(rec))
            returned = plug(stage, True)
            self.wait_until(lambda: not status_text(rec).startswith(WARNING), 2.0, interval=0.02,
                            message="the warning gone within 2 s of the return")
            time.sleep(2.0)
            take.stop()
            final = last_take_file(stage.dir)
            rows = read_frames_csv(os.path.splitext(final)[0] + ".frames.csv")
            with open(os.path.splitext(final)[0] + ".take.json", encoding="utf-8") as info:
                info = json.load(info)
            skeleton_frames = {r["frame"] for r in
                               skeleton.read_csv(os.path.splitext(final)[0] + ".skeleton.csv")}

        self.assertEqual(len(info["sensor_missing"]), 1, info["sensor_missing"])
        gap = info["sensor_missing"][0]
        first, count = gap["first_frame"], gap["frames"]
        inside, after = rows[first:first + count], rows[first + count]
        # The gap repeats the last picture, without skeletons, for about the time away; the
        # frame after it is a live picture of the sensor started again (its numbers begin anew).
        start, end = (datetime.datetime.fromisoformat(gap[k]) for k in ("start", "end"))
        live = (end - wall(returned)).total_seconds()
        print(f"\npull to warning {warned * 1000:.0f} ms; return to live frames {live * 1000:.0f} ms; "
              f"{info['dropped']} frames dropped")
        self.assertLess(live, 2.0)
        self.assertLess(abs((start - wall(pulled)).total_seconds()), 1.0, gap)
        self.assertLess(abs(count / 30 - (end - start).total_seconds()), 0.5, gap)
        self.assertEqual({r["repeated"] for r in inside}, {1})
        self.assertEqual(after["repeated"], 0)
        self.assertLess(after["color_frame"], 60, after)
        self.assertFalse(skeleton_frames & set(range(first, first + count)))
        self.assertTrue(any(f >= first + count for f in skeleton_frames), "skeleton rows return")
        self.assertLessEqual(end, after["host_time"])  # equal unless the queue dropped it
        self.assertEqual((datetime.datetime.fromisoformat(info["start"]),
                          datetime.datetime.fromisoformat(info["end"])),
                         (rows[0]["host_time"], rows[-1]["host_time"]))

    def test_a_sensor_plugged_in_after_start_up_is_used(self):
        stage = self.make_stage()
        with self.plugged_recorder(stage, False) as rec:
            self.wait_until(lambda: status_text(rec) == NO_SENSOR, 5.0, message=NO_SENSOR)
            self.assertTrue(rec.shows_black())
            returned = plug(stage, True)
            self.wait_until(lambda: status_text(rec).startswith("Ready."), 2.0, interval=0.02,
                            message="the sensor started within 2 s")
            started = time.time() - returned
            # A screenshot takes a while here: the picture is judged with time to spare.
            self.wait_until(rec.shows_picture, 5.0, interval=0.05, message="the live picture")
            print(f"\nplug-in to sensor started {started * 1000:.0f} ms, "
                  f"to the picture seen on screen {time.time() - returned:.2f} s")
            # Pulled while idle: the line says so at once, the window keeps the last picture.
            plug(stage, False)
            self.wait_until(lambda: status_text(rec) == NO_SENSOR, 1.0, message=NO_SENSOR)
            self.assertTrue(rec.shows_picture())


if __name__ == "__main__":
    unittest.main()
