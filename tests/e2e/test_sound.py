"""Sound beside the video from a PulseAudio device that Wine's audio session API captures: the
WAV and the MP4's sound track in step with the frames file's host times, also when the device's
clock runs fast and it pauses; a kept device that is absent, an unknown --sound, a killed
recorder."""

import json
import os
import subprocess
import time
import unittest

from nvr import RecorderTestCase, depth, env, sound
from nvr.recorder import IDOK, launch
from nvr.recording import Take, last_take_file, relay_env, status_text

TAKE_SECONDS = 77
# The device pauses once this long into the take, after more than a minute of its fast clock.
PAUSE_AT = 66.5
FRAME = 1 / 30
SILENT_TEXT = "Warning: no sound is coming in."
CAPTION = "Nimbra VIZ Recorder"


def stem(path):
    return os.path.splitext(path)[0]


class SoundTests(RecorderTestCase):

    def setUp(self):
        super().setUp()
        env.reset_settings()  # a first run: the sensor's array is chosen
        self.addCleanup(env.reset_settings)

    def device(self, **options):
        device = sound.SoundDevice(**options).start()
        self.addCleanup(device.stop)
        return device

    def test_sound_lines_up_with_the_frames_at_a_fast_clock_and_through_a_pause(self):
        device = self.device(ppm=2000, period=5.0)
        stage = self.make_stage()
        lines = []
        with self.recorder(stage, {**relay_env(stage), **device.env}) as rec:
            take = Take(rec, "sound.mp4").start()
            began = time.monotonic()
            while time.monotonic() - began < TAKE_SECONDS:
                if not device.pauses and time.monotonic() - began > PAUSE_AT:
                    device.pause(3.0)
                lines.append(status_text(rec))
                time.sleep(0.25)
            take.stop(timeout=180)
        final = last_take_file(stage.dir)
        rows = depth.read_frames_csv(stem(final) + ".frames.csv")
        host = [r["host_time"].timestamp() for r in rows]
        with open(stem(final) + ".take.json", encoding="utf-8") as take_file:
            entry = json.load(take_file)["streams"]["sound"]
        info, samples, _ = sound.read_wav(stem(final) + ".sound.wav")
        self.assertEqual((info["tag"], info["channels"], info["rate"], info["bits"], info["mask"],
                          info["float"]), (0xFFFE, 4, 16000, 32, 0x33, True))
        bursts = [b for b in device.bursts if host[0] + 0.1 < b < host[-1] - 0.1]
        self.assertGreaterEqual(len(bursts), 10, device.bursts)

        # In the WAV: sample = frame 0's sample + seconds after frame 0 x the measured rate.
        def index(wall):
            return entry["frame0_sample"] + (wall - host[0]) * entry["measured_rate"]
        # Only the pause lost sound: anything else filled with silence is a fault.
        self.assertEqual(entry["gaps_filled"], 1, entry["without_sound"][:10])
        found = sound.onsets(samples, 4)
        wav_errors = [(f - index(b)) / 16000 for f, b in zip(found, bursts)]
        self.assertEqual(len(found), len(bursts), (found, bursts))
        self.assertLess(max(map(abs, wav_errors)), 0.020, wav_errors)
        first = found[0] * 4
        levels = [max(abs(x) for x in samples[first + c:first + 2560:4]) for c in range(4)]
        for level, sent in zip(levels, sound.BURST_LEVELS):
            self.assertAlmostEqual(level, sent, delta=0.02, msg=levels)

        # The pause: silence in the WAV, an interval in the take file, a warning that went.
        paused, resumed = device.pauses[0]
        gap = samples[int(index(paused + 0.2)) * 4:int(index(resumed - 0.2)) * 4]
        self.assertEqual(set(gap), {0.0})
        self.assertAlmostEqual(entry["without_sound"][0]["duration_s"], 3.0, delta=0.15)
        self.assertAlmostEqual(entry["without_sound"][0]["start_s"], paused - host[0], delta=0.1)
        self.assertTrue(any(SILENT_TEXT in line for line in lines), lines)
        self.assertNotIn(SILENT_TEXT, lines[-1])
        self.assertTrue(any(" \u00b7 sound \u2212" in line for line in lines), lines[:3])

        # In the MP4: as long as the video, each burst of the minute before the pause within a
        # frame of its video frame.
        durations = sound.stream_durations(final)
        self.assertEqual(durations["audio"][0], "aac")
        self.assertAlmostEqual(durations["audio"][1], durations["video"][1], delta=FRAME)
        heard = sound.onsets(sound.decode_sound_track(final), 1)
        def video_time(wall):
            n = min(range(len(host)), key=lambda i: abs(host[i] - wall))
            return rows[n]["time_s"] + wall - host[n]
        before = [b for b in bursts if b < paused]
        self.assertGreaterEqual(len(heard), len(before), (heard, bursts))
        mp4_errors = [h / 16000 - video_time(b) for h, b in zip(heard, before)]
        self.assertGreaterEqual(bursts[len(mp4_errors) - 1] - bursts[0], 60, bursts)
        self.assertLess(max(map(abs, mp4_errors)), FRAME, mp4_errors)
        print(f"burst errors, first and last: WAV {wav_errors[0] * 1000:+.1f} "
              f"{wav_errors[-1] * 1000:+.1f} ms, MP4 {mp4_errors[0] * 1000:+.1f} "
              f"{mp4_errors[-1] * 1000:+.1f} ms over {bursts[len(mp4_errors) - 1] - bursts[0]:.0f} s",
              flush=True)

    def test_an_absent_device_or_an_unknown_name_records_no_sound_and_says_so(self):
        device = self.device()
        stage = self.make_stage()
        proc = launch(stage, ["--record", "a.mp4", "--sound", "Studio Mic"], device.env)
        self.addCleanup(proc.kill)
        box = self.wait_until(lambda: [w for w in self.driver.windows()
                                       if w.cls == "#32770" and w.title == CAPTION], 20.0,
                              message="the usage box")[0]
        [dialog] = self.driver.dialogs(box.pid)
        self.assertTrue(dialog.text.startswith("--sound names no sound device: Studio Mic\n"
                                               "Sound devices:"), dialog.text)
        self.assertIn(sound.SENSOR_ARRAY, dialog.text)
        self.driver.press(box.hwnd, IDOK)
        self.assertEqual(proc.wait(timeout=10), 2)

        os.makedirs(os.path.dirname(env.settings_path()), exist_ok=True)
        with open(env.settings_path(), "wb") as ini:
            ini.write("\ufeff[Settings]\r\nSoundDevice={gone}\r\nSoundDeviceName=Desk Mic\r\n"
                      .encode("utf-16-le"))
        with self.recorder(stage, {**relay_env(stage), **device.env}) as rec:
            take = Take(rec, "absent.mp4").start()
            self.wait_until(lambda: status_text(rec).startswith(
                "Warning: no sound device: Desk Mic. REC "), 5.0, message="the warning")
            time.sleep(1.0)
            take.stop()
        self.assertGreater(os.path.getsize(last_take_file(stage.dir)), 0)
        self.assertEqual([n for n in os.listdir(stage.dir) if n.endswith(".wav")], [])

    def test_a_killed_recorder_leaves_a_wav_that_plays_to_its_last_second(self):
        device = self.device()
        stage = self.make_stage()
        with self.recorder(stage, {**relay_env(stage), **device.env}) as rec:
            Take(rec, "killed.mp4").start()
            time.sleep(5.0)
            self.driver.terminate(rec.pid, alone=True)
        seconds = subprocess.run(["sox", "--i", "-D", stage.path("killed.sound.wav")],
                                 capture_output=True, timeout=30, check=True).stdout
        # The header is at most a second behind; the rest of the margin is the capture's and the
        # writer's polls, and frame 0, which comes a moment after Stop is enabled.
        self.assertGreaterEqual(float(seconds), 3.5)


if __name__ == "__main__":
    unittest.main()
