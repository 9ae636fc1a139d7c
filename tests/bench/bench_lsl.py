"""Lab Streaming Layer benchmark: a take of SECONDS (default 60) published to the test inlet,
then one with publishing off. Prints the frames published (the frames file's rows) and
received, the largest difference between a frame's stamp and its host_time (both against frame
0's), and the recorder's CPU in each take. Asserts nothing. Run by scripts/bench-lsl, inside the
LSL tests' loopback-only environment."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from lsl_streams import LabStreamCase, read_samples  # noqa: E402
from nvr import depth  # noqa: E402
from nvr.recorder import IDM_QUIT, IDM_SAVE_SKELETON  # noqa: E402
from nvr.recording import Take, relay_env  # noqa: E402

SECONDS = float(sys.argv[1]) if len(sys.argv) > 1 else 60.0


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Bench(LabStreamCase):
    def take(self, publish):
        stage = self.lsl_stage()
        extra = dict(relay_env(stage), **stage.lsl_env, NVR_SIM_TRACKED="0,2")
        with self.recorder(stage, extra, args=["--lsl", "on" if publish else "off"]) as rec:
            if publish:
                self.start_inlet(stage, SECONDS + 120)
            self.driver.command(rec.control, IDM_SAVE_SKELETON)
            take = Take(rec, "take.mp4").start()
            before = cpu_seconds(rec.proc.pid)
            time.sleep(SECONDS)
            cpu = cpu_seconds(rec.proc.pid) - before
            take.stop()
            self.driver.command(rec.control, IDM_QUIT)
            rec.wait_exit(30)
        print(f"\npublishing {'on ' if publish else 'off'}: recorder CPU "
              f"{1000 * cpu / SECONDS:.1f} ms a second")
        if not publish:
            return
        self.wait_until(lambda: os.path.exists(stage.path("got", "done")), 60)
        final = next(n for n in os.listdir(stage.dir) if n.startswith("take.mp4_")
                     and n.endswith(".mp4"))
        rows = depth.read_frames_csv(stage.path(final[:-4] + ".frames.csv"))
        frames = read_samples(stage.path("got", "frames.txt"))
        numbers = [int(v[0]) for _, v in frames]
        errors = [abs((s - frames[0][0]) - (r["host_time"] - rows[0]["host_time"]).total_seconds())
                  for (s, _), r in zip(frames, rows)]
        print(f"  frames published {len(rows)}, received {len(frames)}, numbers 0..N-1 "
              f"without gap: {numbers == list(range(len(rows)))}")
        print(f"  stamp - host_time (against frame 0): largest {1000 * max(errors):.2f} ms, "
              f"mean {1000 * sum(errors) / len(errors):.2f} ms")

    def test_published(self):
        self.take(True)

    def test_not_published(self):
        self.take(False)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=1)
