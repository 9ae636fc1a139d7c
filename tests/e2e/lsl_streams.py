"""Lab Streaming Layer: what a lab recorder (nvrlslinlet.exe on the real lsl.dll) receives from
the program's three streams during a take, measured against the take's own files; a recorder
that stops reading; a program without lsl.dll beside it. Run by scripts/lib/lsl-tests inside a
loopback-only network namespace, with the loopback configuration for every process."""

import json
import os
import shutil
import subprocess
import time
import unittest

from nvr import RecorderTestCase, depth, env, skeleton
from nvr.projection import f32
from nvr.recorder import IDM_QUIT, IDM_SAVE_SKELETON
from nvr.recording import Take, relay_env

LSL_DIR = os.environ.get("NVR_LSL_DIR", "")
NAMES = {"frames": "NimbraVIZ Frames", "skeleton": "NimbraVIZ Skeleton",
         "markers": "NimbraVIZ Markers"}
SLOT = 1 + 4 * skeleton.JOINT_COUNT


def read_samples(path, strings=False):
    """(stamp, values) per line the inlet wrote: floats, or the marker's text."""
    samples = []
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            stamp, _, rest = line.rstrip("\n").partition(" ")
            samples.append((float(stamp), rest if strings else [float(v) for v in rest.split()]))
    return samples


def joints_of(record):
    """A sample slot's or a logged record's joints as (x, y, z, state) tuples of floats."""
    return [tuple(f32(float(v)) for v in joint) for joint in record]


class LabStreamCase(RecorderTestCase):
    """Stages with lsl.dll, the inlet, and takes recorded while it reads (also for the
    benchmark)."""

    def setUp(self):
        super().setUp()
        env.reset_settings()

    def lsl_stage(self, beside_program=True):
        """A stage with lsl.dll beside the program (else, with the program in app\\, only in the
        current folder) and the inlet with its own copy in inlet\\."""
        stage = self.make_stage(program_folder="" if beside_program else "app")
        os.makedirs(stage.path("inlet"))
        for folder in ("", "inlet"):
            shutil.copy2(os.path.join(LSL_DIR, "lsl.dll"), stage.path(folder, "lsl.dll"))
        shutil.copy2(os.path.join(env.bin_dir(), "nvrlslinlet.exe"), stage.path("inlet"))
        shutil.copy2(os.path.join(LSL_DIR, "lsl_api_loopback.cfg"), stage.path("lsl.cfg"))
        stage.lsl_env = {"LSLAPICFG": stage.windows_path("lsl.cfg")}
        return stage

    def start_inlet(self, stage, seconds, pause=()):
        """Runs the inlet into stage\\got\\ until the streams end; returns once it has looked
        for them and opened those it found."""
        os.makedirs(stage.path("got"))
        args = [stage.windows_path("got"), str(seconds), *map(str, pause)]
        proc = subprocess.Popen(["wine", stage.path("inlet", "nvrlslinlet.exe"), *args],
                                cwd=stage.dir, env=env.wine_env(stage.lsl_env),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, start_new_session=True)
        self.addCleanup(proc.kill)
        self.wait_until(lambda: os.path.exists(stage.path("got", "ready")), 90,
                        message="the inlet looking for the streams")
        return proc

    def record_and_quit(self, rec, stage, seconds, inlet_ends=True):
        """Ticks Save Skeleton Data, records a take of `seconds`, quits; waits for the inlet."""
        self.driver.command(rec.control, IDM_SAVE_SKELETON)
        Take(rec, "take.mp4").record(seconds)
        self.driver.command(rec.control, IDM_QUIT)
        self.assertEqual(rec.wait_exit(30), 0)
        if inlet_ends:
            self.wait_until(lambda: os.path.exists(stage.path("got", "done")), 60,
                            message="the inlet's end")
        finals = [n for n in os.listdir(stage.dir) if n.startswith("take.mp4_") and n.endswith(".mp4")]
        self.assertEqual(len(finals), 1, os.listdir(stage.dir))
        return os.path.splitext(stage.path(finals[0]))[0]

    def published_take(self, seconds, pause=()):
        """A take recorded while the inlet reads: (stage, the take's stem, frames rows)."""
        stage = self.lsl_stage()
        extra = dict(relay_env(stage), **stage.lsl_env, NVR_SIM_TRACKED="0,2",
                     NVR_SIM_SKELETON_LOG=stage.windows_path("skeletons.txt"))
        with self.recorder(stage, extra, args=["--lsl", "on"]) as rec:
            self.start_inlet(stage, seconds + 60, pause)
            self.assertFalse(os.path.exists(stage.path("got", "missing.txt")))
            stem = self.record_and_quit(rec, stage, seconds)
        return stage, stem, depth.read_frames_csv(stem + ".frames.csv")


class LabStreamTests(LabStreamCase):

    def test_a_take_is_published_frame_by_frame_with_its_skeletons_and_markers(self):
        stage, stem, rows = self.published_take(10)
        frames = read_samples(stage.path("got", "frames.txt"))
        # One sample per video frame, in order, stamped when its colour picture was taken.
        self.assertEqual([int(v[0]) for _, v in frames], list(range(len(rows))))
        with open(stem + ".take.json", encoding="utf-8") as take_file:
            take = json.load(take_file)
        self.assertEqual(take["frames"], len(rows))
        self.assertGreaterEqual(len(rows), 30, "no second of video to compare")
        self.assertEqual([(int(v[1]), int(v[2])) for _, v in frames],
                         [(r["color_frame"], r["repeated"]) for r in rows])
        errors = [abs((s - frames[0][0]) - (r["host_time"] - rows[0]["host_time"]).total_seconds())
                  for (s, _), r in zip(frames, rows)]
        print(f"frames {len(rows)}, largest stamp error {max(errors) * 1000:.2f} ms")
        self.assertLess(max(errors), 0.002)
        lsl = take["lsl"]
        self.assertAlmostEqual(lsl["frame0_time"], frames[0][0], places=6)
        self.assertEqual([s["name"] for s in lsl["streams"]], list(NAMES.values()))
        described = {}
        for kind, stream in zip(NAMES, lsl["streams"]):
            with open(stage.path("got", kind + ".xml"), encoding="utf-8") as xml:
                described[kind] = "".join(line.strip() for line in xml)
            self.assertIn(f"<source_id>{stream['source_id']}</source_id>", described[kind])
            self.assertIn("<program>Nimbra VIZ Recorder</program>", described[kind])
        self.assertIn("<label>S0_HeadX</label><type>PositionX</type><unit>meters</unit>",
                      described["skeleton"])

        # Every skeleton frame the program took, from the inlet's first on, as it was taken.
        samples = read_samples(stage.path("got", "skeleton.txt"))
        taken = skeleton.read_sim_log(stage.path("skeletons.txt"))
        numbers = sorted(taken)
        slots = [[joints_of(zip(*[iter(v[1 + s * SLOT:(s + 1) * SLOT])] * 4))
                  for s in range(skeleton.RECORD_COUNT)] for _, v in samples]
        logged = {n: [joints_of(r["joints"]) if r["state"] == skeleton.TRACKED
                      else [(0.0, 0.0, 0.0, 0.0)] * skeleton.JOINT_COUNT
                      for r in taken[n]["records"]] for n in numbers}
        first = next((i for i, n in enumerate(numbers)
                      if [logged[m] for m in numbers[i:]] == slots), None)
        self.assertIsNotNone(first, "the samples are not the skeleton frames taken, in order")
        by_number = dict(zip(numbers[first:], slots))
        print(f"skeleton frames taken {len(numbers)}, from the inlet's first {len(slots)}")
        self.assertLess(first, len(numbers) - 300)
        for row in skeleton.read_csv(stem + ".skeleton.csv"):
            self.assertEqual(by_number[row["skeleton_frame"]][row["skeleton"]],
                             [j[:3] + j[5:] for j in joints_of(row["joints"])])

        markers = [text for _, text in read_samples(stage.path("got", "markers.txt"), True)]
        self.assertEqual(markers, ["take started " + stage.windows_path("take.mp4"),
                                   "take saved " + stage.windows_path(os.path.basename(stem))
                                   + ".mp4"])

    def test_a_lab_recorder_that_stops_reading_changes_nothing_in_the_take(self):
        stage, _, rows = self.published_take(10, pause=(60, 5))
        fresh = [r["color_frame"] for r in rows if not r["repeated"]]
        self.assertEqual(fresh, list(range(fresh[0], fresh[0] + len(fresh))),
                         "a sensor frame lost or taken twice")
        self.assertLess(len(rows) - len(fresh), len(rows) // 50, "repeats beyond the usual")
        frames = read_samples(stage.path("got", "frames.txt"))
        self.assertEqual([int(v[0]) for _, v in frames], list(range(len(rows))))

    def test_without_lsl_dll_beside_the_program_nothing_is_published(self):
        stage = self.lsl_stage(beside_program=False)
        with self.recorder(stage, dict(relay_env(stage), **stage.lsl_env),
                           args=["--lsl", "on"]) as rec:
            self.start_inlet(stage, 5)
            stem = self.record_and_quit(rec, stage, 3, inlet_ends=False)
        with open(stage.path("got", "missing.txt"), encoding="utf-8") as missing:
            self.assertEqual(missing.read().split("\n")[:-1], list(NAMES.values()))
        with open(stem + ".take.json", encoding="utf-8") as take_file:
            self.assertIsNone(json.load(take_file)["lsl"])
        self.assertGreater(len(depth.read_frames_csv(stem + ".frames.csv")), 60)


if __name__ == "__main__":
    unittest.main()
