"""Recording benchmark: takes of 10 s and 60 s (or the lengths given) made through the
program's buttons under Wine with the simulated 30 fps sensor and the encoder relay. For each
take it prints the wall-clock time it ran, the frames in the file against the 30 a second due,
the sensor frames missing (in all and in the take's first second) and repeated, the frames the
program dropped from its queue, the recorder's CPU time, and the start and stop latencies (to
Start enabled again, and to the take saved under its final name, the rewrite into a standard
MP4 included). Two more takes, as long as the longest, run with two tracked people and File >
Save Skeleton Data on, the second also with File > Save Depth, and also print the skeleton
file's size and rows per second and the depth file's frames. Two last ones run beside a fed
PulseAudio device (the sensor's array, 4 channels at 16 kHz), each in a program of its own:
the same take without sound (--sound none) and with it, which also prints the WAV's frames
against those due and the gaps filled. The CPU lines name the busiest threads, and Wine's sound
driver's apart. Asserts nothing.

    NVR_TESTENV=... NVR_BIN=... NVR_SOURCE=... python3 tests/bench/bench_recording.py [SECONDS ...]
(scripts/bench-recording sets all of that up.)"""

import json
import os
import re
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from nvr import Driver, Recorder, Stage, env, sound, video  # noqa: E402
from nvr.recorder import IDM_QUIT, IDM_SAVE_DEPTH, IDM_SAVE_SKELETON  # noqa: E402
from nvr.recording import (FINAL_NAME, FRAMES_PER_SECOND, FrameReport, Moment, Take,  # noqa: E402
                           relay_env, stage_files, wait_saved)

DEFAULT_TAKES = (10.0, 60.0)
# What the program tells a debugger at the end of each take.
TAKE_REPORT = re.compile(r"take ended: (\d+) frames written, (\d+) dropped from the queue, "
                         r"(\d+) not handed over")
CONNECT_TIMEOUT = 30.0
STOP_TIMEOUT = 30.0
# A long take's rewrite into a standard MP4 takes a while.
SAVE_TIMEOUT = 600.0


def stop_and_time(take):
    """Clicks Stop; returns (Moment the take was saved under its final name, Moment Start was
    enabled); None for one that did not come within STOP_TIMEOUT."""
    take.click_stop()
    enabled = None
    seen_false = take.stop_clicked.earliest
    deadline = time.monotonic() + STOP_TIMEOUT
    while enabled is None and time.monotonic() < deadline:
        sent = time.monotonic()
        if take.driver.enabled(take.start_button):
            enabled = Moment(seen_false, time.monotonic())
            take.stopped = enabled
        seen_false = sent
        time.sleep(0.002)
    return wait_saved(take.rec, SAVE_TIMEOUT), enabled


def cpu_seconds(pid):
    """User and system CPU time of the Linux process `pid` so far (the program under Wine)."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def thread_cpu_seconds(pid):
    """{thread id: (its name, user and system CPU time so far)} of the Linux process `pid`."""
    threads = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/stat") as stat:
                name, rest = stat.read().split(" (", 1)[1].rsplit(")", 1)
            fields = rest.split()
            threads[tid] = (name, (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK"))
        except OSError:
            pass  # ended meanwhile
    return threads


def print_busiest_threads(before, after, seconds):
    """The threads that used the most CPU between two thread_cpu_seconds readings, and those of
    Wine's sound driver (winepulse_*), which do what Windows' audio engine does in its own
    service."""
    used = sorted(((cpu - before.get(tid, ("", 0.0))[1], tid, name)
                   for tid, (name, cpu) in after.items()), reverse=True)
    for cpu, tid, name in used[:5]:
        if cpu > 0:
            print(f"    thread {tid:>7} {name:16} {1000 * cpu / seconds:6.1f} ms a second")
    for label, prefix in (("the program's sound threads", "sound "),
                          ("Wine's sound driver", "winepulse")):
        threads = [cpu for cpu, _, name in used if name.startswith(prefix)]
        if threads:
            print(f"    {label + ', in all':36} {1000 * sum(threads) / seconds:6.1f} ms a second")


def ms(moment, since):
    if moment is None:
        return "      -- (did not happen)"
    return (f"{1000 * (moment.mid - since.mid):8.1f} ms "
            f"(+-{500 * (moment.width + since.width):.0f})")


def take_reports(stage):
    """(written, dropped, not handed over) of every take so far, from the program's output."""
    with open(stage.path("program.log"), "rb") as log:
        text = log.read().decode("utf-8", "replace")
    return [tuple(int(n) for n in match.groups()) for match in TAKE_REPORT.finditer(text)]


def print_skeleton_file(path, seconds):
    if not os.path.exists(path):
        print(f"  no skeleton file at {path}")
        return
    with open(path, "rb") as data:
        lines = data.read().count(b"\n")
    rows = lines - 1
    print(f"  skeleton file size         {os.path.getsize(path) / 1e6:10.2f} MB")
    print(f"  skeleton rows              {rows:10d} ({rows / seconds:.1f} a second)")


def print_sound(final_stem, seconds):
    """The take's WAV against the frames its device was due to give in the `seconds` the take
    ran, and the gaps filled."""
    try:
        with open(final_stem + ".take.json", encoding="utf-8") as take_file:
            entry = json.load(take_file)["streams"]["sound"]
        _, _, frames = sound.read_wav(final_stem + ".sound.wav")
    except (OSError, KeyError, ValueError) as error:
        print(f"  no sound to measure: {error!r}")
        return
    due = seconds * entry["measured_rate"]
    print(f"  sound frames in the WAV    {frames:10d}")
    print(f"  sound frames due           {due:10.0f}  (time run x measured rate "
          f"{entry['measured_rate']:.2f}, nominal {entry['sample_rate']}; "
          f"difference {frames - due:+.0f})")
    print(f"  sound gaps filled          {entry['gaps_filled']:10d} ({entry['gaps_total_ms']} ms)")


def bench_take(rec, stage, seconds, number, skeletons=False, depth=False, with_sound=False):
    name = f"bench{number}.mp4"
    take = Take(rec, name).start(CONNECT_TIMEOUT)
    cpu_before = cpu_seconds(rec.proc.pid)
    threads_before = thread_cpu_seconds(rec.proc.pid)
    time.sleep(seconds)
    cpu = cpu_seconds(rec.proc.pid) - cpu_before
    threads_after = thread_cpu_seconds(rec.proc.pid)
    renamed, enabled = stop_and_time(take)
    ran, uncertainty = take.ran
    finals = [n for n in stage_files(stage, re.escape(name) + "_.*")
              if FINAL_NAME.match(n) and n.endswith(".mp4")]
    print(f"take of {seconds:.0f} s" + (", saving skeleton data" if skeletons else "") +
          (" and depth" if depth else "") + (" and sound" if with_sound else ""))
    print(f"  recorder CPU               {1000 * cpu / seconds:10.1f} ms a second, the busiest "
          "threads:")
    print_busiest_threads(threads_before, threads_after, seconds)
    print(f"  wall-clock time recorded   {ran:10.3f} s (+-{1000 * uncertainty:.0f} ms; "
          f"Stop enabled to Stop clicked)")
    print(f"  start latency              {ms(take.connected, take.start_clicked)} "
          f"(Start click to Stop enabled)")
    print(f"  stop latency, take saved   {ms(renamed, take.stop_clicked)}")
    print(f"  stop latency, Start on     {ms(enabled, take.stop_clicked)}")
    if not finals:
        print(f"  no renamed file: {stage_files(stage, re.escape(name) + '.*')}")
        return
    if skeletons:
        print_skeleton_file(stage.path(finals[0][:-len(".mp4")] + ".skeleton.csv"), ran)
    if depth:
        mkv = stage.path(finals[0][:-len(".mp4")] + ".depth.mkv")
        frames = env.run_checked(["ffprobe", "-v", "error", "-count_frames", "-select_streams",
                                  "v:0", "-show_entries", "stream=nb_read_frames", "-of",
                                  "csv=p=0", mkv], 300).decode().strip()
        print(f"  depth frames in its file   {frames:>10}")
    report = FrameReport.of(video.decode_frame_numbers(stage.path(finals[0])))
    if with_sound:
        print_sound(stage.path(finals[0][:-len(".mp4")]), ran)
    expected = FRAMES_PER_SECOND * ran
    print(f"  frames in the file         {report.count:10d}")
    print(f"  frames expected (30 x t)   {expected:10.1f}  "
          f"(difference {report.count - expected:+.1f})")
    first = report.numbers[0] if report.numbers else 0
    at_start = [n for n in report.missing if n < first + FRAMES_PER_SECOND]
    print(f"  sensor frames missing      {len(report.missing):10d}")
    print(f"    in the first second      {len(at_start):10d}")
    print(f"  frames repeated            {report.repeated:10d}")
    print(f"  frames out of order        {len(report.backwards):10d}")
    reports = take_reports(stage)
    if len(reports) >= number:
        written, dropped, abandoned = reports[number - 1]
        print(f"  frames written (program)   {written:10d}")
        print(f"  frames dropped from queue  {dropped:10d}")
        print(f"  frames not handed over     {abandoned:10d}")
    else:
        print("  the program's take report is missing (WINEDEBUG lacks +debugstr?)")
    print(f"  detail: {report.describe()}", flush=True)


def main(argv):
    # --depth: only takes saving depth (and skeleton data), one of each length.
    depth_only = "--depth" in argv
    lengths = [float(a) for a in argv[1:] if a != "--depth"] or list(DEFAULT_TAKES)
    print("recording through the buttons: simulated 30 fps sensor, encoder relay to Debian's "
          "ffmpeg (libx264 ultrafast)", flush=True)
    env.reset_settings()
    with Driver() as driver:
        stage = Stage("bench_recording")
        # +debugstr lets the program's end-of-take report reach its log.
        rec = Recorder(stage, driver, extra_env=dict(relay_env(stage), WINEDEBUG="-all,+debugstr",
                                                     NVR_SIM_TRACKED="0,1"))
        try:
            rec.start()
            if depth_only:
                driver.command(rec.control, IDM_SAVE_SKELETON)
                driver.command(rec.control, IDM_SAVE_DEPTH)
                for number, seconds in enumerate(lengths, 1):
                    bench_take(rec, stage, seconds, number, skeletons=True, depth=True)
            else:
                for number, seconds in enumerate(lengths, 1):
                    bench_take(rec, stage, seconds, number)
                driver.command(rec.control, IDM_SAVE_SKELETON)
                bench_take(rec, stage, max(lengths), len(lengths) + 1, skeletons=True)
                driver.command(rec.control, IDM_SAVE_DEPTH)
                bench_take(rec, stage, max(lengths), len(lengths) + 2, skeletons=True, depth=True)
            driver.command(rec.control, IDM_QUIT)
            rec.wait_exit(15.0)
        finally:
            rec.kill()
        # Sound's cost: the same take with and without sound, each in a program of its own with
        # the sound device there and fed, so both run beside the same sound server and feeder.
        # The switches stay on; with no sound device kept, the sensor's array is chosen.
        with sound.SoundDevice() as device:
            for with_sound in (False, True):
                stage = Stage("bench_recording_sound" if with_sound else "bench_recording_quiet")
                rec = Recorder(stage, driver, extra_env=dict(
                    relay_env(stage), WINEDEBUG="-all,+debugstr", NVR_SIM_TRACKED="0,1",
                    **device.env), args=() if with_sound else ("--sound", "none"))
                try:
                    rec.start()
                    bench_take(rec, stage, max(lengths), 1, True, True, with_sound=with_sound)
                    driver.command(rec.control, IDM_QUIT)
                    rec.wait_exit(15.0)
                finally:
                    rec.kill()
    print(f"files kept in {stage.dir} and beside it")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except env.TestEnvError as error:
        print(error, file=sys.stderr)
        sys.exit(2)
