"""Soak of the recorder under Wine with the simulated sensor and the encoder relay, through the
program's buttons. Prints its figures and exits with 1 when one is out of bounds:

1. N Start/Stop cycles of 1 s takes: the recorder's handles, GDI objects and private memory after
   the last cycle within 2 % of their values after cycle 10; every file a valid MP4 with the
   frames of its take; no encoder process left.
2. One long take: frames in the file equal 30 x its length within the timeline's band, every
   sensor frame once, the recorder's memory flat (within 2 %) after the first minute.
3. The recorder ended from outside in the middle of a take: its encoder ends with it, and the
   file under its start name plays every frame due but at most the last second's.
4. The encoder ended in the middle of a take: the take stops with the message, the buttons are
   idle, the file so far is kept, and the next Start records.

    NVR_TESTENV=... NVR_BIN=... NVR_SOURCE=... python3 tests/bench/soak.py [--cycles N]
        [--long-seconds S]          (scripts/soak sets the environment up)

Wine 8 answers the private memory of another process with 0; the memory figure is then the
recorder's anonymous resident memory as Linux sees it (RssAnon)."""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from nvr import Driver, Recorder, Stage, env, video  # noqa: E402
from nvr.driver import poll_until  # noqa: E402
from nvr.recorder import IDM_QUIT  # noqa: E402
from nvr.stage import ENCODER  # noqa: E402
from nvr.recording import (ENCODER_LOST_TEXT, FRAMES_PER_SECOND, FrameReport,  # noqa: E402
                           Take, encoders_of, is_idle, last_take_file, on_timeline, relay_env,
                           wait_saved)

CYCLE_SECONDS = 1.0
BASELINE_CYCLE = 10
RESOURCE_SHARE = 0.02
# Frames a short take may be off its 30-a-second count beyond the measurement's uncertainty.
RESOURCE_SAMPLES = 8
RESOURCE_SAMPLE_INTERVAL = 0.25
KILL_AFTER_SECONDS = 3.0
ENCODER_END_TIMEOUT = 60.0
TIMEOUT = 30.0


class Soak:
    def __init__(self, driver):
        self.driver = driver
        self.failures = []

    def check(self, ok, figure):
        """Prints a figure with its verdict and remembers a failure."""
        print(f"  {'ok  ' if ok else 'FAIL'} {figure}", flush=True)
        if not ok:
            self.failures.append(figure)

    def recorder(self, name):
        stage = Stage(f"soak_{name}")
        rec = Recorder(stage, self.driver, extra_env=relay_env(stage))
        rec.start()
        return stage, rec

    def memory(self, rec):
        """The recorder's private memory in bytes: the Windows figure, or RssAnon under Wine."""
        private = self.driver.resources(rec.pid)[2]
        if private:
            return private
        with open(f"/proc/{rec.proc.pid}/status") as status:
            for line in status:
                if line.startswith("RssAnon:"):
                    return int(line.split()[1]) * 1024
        raise RuntimeError("no memory figure for the recorder")

    def resources(self, rec):
        """(handles, GDI objects, private memory) once the recorder has settled."""
        return (*rec.settled_handles(RESOURCE_SAMPLES, RESOURCE_SAMPLE_INTERVAL),
                self.memory(rec))

    def check_within(self, label, first, last, unit=""):
        limit = RESOURCE_SHARE * first
        self.check(abs(last - first) <= limit,
                   f"{label}: {first}{unit} -> {last}{unit} (change {last - first:+}{unit}, "
                   f"allowed +-{limit:.0f})")

    def cycles(self, count):
        print(f"{count} Start/Stop cycles of {CYCLE_SECONDS:.0f} s takes", flush=True)
        stage, rec = self.recorder("cycles")
        baseline_cycle = BASELINE_CYCLE if count > BASELINE_CYCLE else 1
        takes, baseline = [], None
        try:
            for number in range(1, count + 1):
                take = Take(rec, f"cycle{number:03d}.mp4").record(CYCLE_SECONDS)
                takes.append((take, last_take_file(stage.dir)))
                if number == baseline_cycle:
                    baseline = self.resources(rec)
            final = self.resources(rec)
            left = poll_until(lambda: not encoders_of(self.driver, rec.pid), 10.0)
            self.check(bool(left), f"encoder processes left: "
                       f"{len(encoders_of(self.driver, rec.pid))}")
        finally:
            rec.kill()
        labels = ("handles", "GDI objects", "private memory")
        for label, first, last in zip(labels, baseline, final):
            self.check_within(f"{label} after cycle {baseline_cycle} and {count}", first, last)
        bad = []
        for take, path in takes:
            ran, uncertainty = take.ran
            name = os.path.basename(path)
            try:
                info = video.ffprobe_info(path)
                frames, codec = info["frames"], info["codec"]
            except (RuntimeError, OSError) as error:
                frames, codec = 0, str(error)
            if codec != "h264" or not on_timeline(frames, ran, uncertainty):
                bad.append(f"{name}: {codec}, {frames} frames for {ran:.3f} s")
        self.check(not bad, f"valid MP4 files with their takes' frames: "
                   f"{len(takes) - len(bad)} of {len(takes)} {bad[:5]}")

    def long_take(self, seconds):
        print(f"one take of {seconds:.0f} s", flush=True)
        stage, rec = self.recorder("long")
        flat_from = min(60.0, seconds / 2)
        try:
            take = Take(rec, "long.mp4").start(TIMEOUT)
            started = time.monotonic()
            time.sleep(flat_from)
            samples = [self.memory(rec)]
            while time.monotonic() - started < seconds:
                time.sleep(min(10.0, max(0.0, seconds - (time.monotonic() - started))))
                samples.append(self.memory(rec))
            take.stop(TIMEOUT)
            path = last_take_file(stage.dir)
        finally:
            rec.kill()
        first = samples[0]
        peak = max(samples, key=lambda m: abs(m - first))
        self.check_within(f"memory from {flat_from:.0f} s to the end (largest change)",
                          first, peak, " B")
        ran, uncertainty = take.ran
        report = FrameReport.of(video.decode_frame_numbers(path))
        expected = ran * FRAMES_PER_SECOND
        self.check(on_timeline(report.count, ran, uncertainty),
                   f"frames {report.count} for {ran:.3f} s (+-{uncertainty * 1000:.0f} ms): "
                   f"{expected:.1f} due")
        self.check(not report.missing and not report.repeats and not report.backwards,
                   f"every sensor frame once: {report.describe()}")

    def recorder_killed(self):
        print("the recorder ended from outside during a take", flush=True)
        stage, rec = self.recorder("recorder_killed")
        try:
            take = Take(rec, "killed.mp4").start(TIMEOUT)
            time.sleep(KILL_AFTER_SECONDS)
            killed = time.monotonic()
            self.driver.terminate(rec.pid, alone=True)
            gone = poll_until(lambda: not self.encoders_left(), ENCODER_END_TIMEOUT)
        finally:
            rec.kill()
        self.check(bool(gone), "the encoder ended with the recorder")
        due = (killed - take.connected.mid) * FRAMES_PER_SECOND
        frames = self.frames_in(stage.path("killed.mp4")) or 0
        self.check(frames >= due - FRAMES_PER_SECOND - 2,
                   f"killed.mp4 plays {frames} frames of the {due:.0f} due (all but at most "
                   f"the last second's)")

    def encoder_killed(self):
        print("the encoder ended during a take", flush=True)
        stage, rec = self.recorder("encoder_killed")
        try:
            Take(rec, "lost.mp4").start(TIMEOUT)
            time.sleep(KILL_AFTER_SECONDS)
            for encoder in encoders_of(self.driver, rec.pid):
                self.driver.terminate(encoder.pid)
            boxes = poll_until(rec.dialogs, 15.0) or []
            self.check([b.text for b in boxes] == [ENCODER_LOST_TEXT],
                       f"message: {[b.text for b in boxes]}")
            for box in boxes:
                self.driver.press(box.hwnd, 1)
            self.check(bool(poll_until(lambda: is_idle(rec) and not rec.dialogs(), 10.0)),
                       "idle buttons after the message")
            self.check(wait_saved(rec, ENCODER_END_TIMEOUT) is not None, "the take's files named")
            kept = last_take_file(stage.dir)
            frames = self.frames_in(kept) or 0
            self.check(frames > 0, f"the file so far kept: {frames} frames in "
                       f"{os.path.basename(kept)}")
            Take(rec, "next.mp4").record(CYCLE_SECONDS)
            frames = self.frames_in(last_take_file(stage.dir)) or 0
            self.check(frames > 0, f"the next take records: {frames} frames")
            self.driver.command(rec.control, IDM_QUIT)
            rec.wait_exit(15.0)
        finally:
            rec.kill()

    def encoders_left(self):
        """The encoder processes that still run, whoever started them."""
        return [p for p in self.driver.processes() if p.exe.lower() == ENCODER]

    @staticmethod
    def frames_in(path):
        """The frames of a readable MP4; None while it is not (yet) one."""
        try:
            return video.ffprobe_info(path)["frames"]
        except (RuntimeError, OSError):
            return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cycles", type=int, default=100)
    parser.add_argument("--long-seconds", type=float, default=600.0)
    args = parser.parse_args()
    started = time.monotonic()
    with Driver() as driver:
        soak = Soak(driver)
        soak.cycles(args.cycles)
        soak.long_take(args.long_seconds)
        soak.recorder_killed()
        soak.encoder_killed()
    print(f"soak took {time.monotonic() - started:.0f} s; "
          f"{len(soak.failures)} figure(s) out of bounds", flush=True)
    return 1 if soak.failures else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except env.TestEnvError as error:
        print(error, file=sys.stderr)
        sys.exit(2)
