"""Recordings made the way a user makes them, through the control window's buttons: the times
of a take as seen from outside, the final name the program gives its file, the encoder
processes it starts, and what the recorded frame numbers say."""

import os
import re
import time
from collections import Counter, namedtuple

from . import env
from .recorder import ID_PATH_EDIT, ID_START, ID_STATUS, ID_STOP

ENCODER_EXE = "ffmpeg.exe"
FRAMES_PER_SECOND = 30
# How far a take's frame count may stray from 30 a second of its run, in frames. A sensor
# locked onto the program's timeline runs up to a frame and a quarter behind it before a frame
# is repeated, and up to a frame and a quarter ahead once a new frame is written early; the
# timeline starts at the first render pass after the encoder connects, up to a frame's time
# after Stop is enabled, which leaves the count up to one more frame short.
TIMELINE_AHEAD = 1.25
TIMELINE_BEHIND = 1.25 + 1

FAILED_START_TEXT = "Failed to start FFmpeg."
ENCODER_LOST_TEXT = "Recording stopped: FFmpeg ended unexpectedly."
ENCODER_STALLED_TEXT = "Recording stopped: FFmpeg stopped taking frames."
DISK_FULL_TEXT = "Recording stopped: the disk is full."
KEPT_FIRST_NAME_TEXT = "The recording kept its first name:\n"
ERROR_CAPTION = "Error"
SAVING_STATUS = "Saving"

# "<path>_YYYY-MM-DD__H-MMAM_to_H-MMPM.mp4": 12-hour clock, no leading zero on the hour.
_CLOCK = r"(?:[1-9]|1[0-2])-[0-5]\d[AP]M"
FINAL_NAME = re.compile(r"^(?P<path>.*)_(?P<date>\d{4}-(?:0[1-9]|1[0-2])-(?:0[1-9]|[12]\d|3[01]))"
                        rf"__(?P<start>{_CLOCK})_to_(?P<end>{_CLOCK})\.mp4$")


def clock(local_time):
    """The hour and minute as a final name shows them, e.g. '9-05PM'."""
    return time.strftime("%I-%M%p", local_time).lstrip("0")


def take_final_names(stage, path, suffix):
    """Makes empty files in the stage under every final name that a take to `path` (a name in
    the stage) started and stopped in the next few minutes can get, with `suffix` ('.mp4', or a
    companion's such as '.skeleton.csv') after its stem, so that those names are taken."""
    minutes = [time.localtime(time.time() + 60 * k) for k in range(-1, 4)]
    for i, start in enumerate(minutes):
        for end in minutes[i:]:
            day = time.strftime("%Y-%m-%d", start)
            open(stage.path(f"{path}_{day}__{clock(start)}_to_{clock(end)}{suffix}"), "w").close()


def clock_24h(twelve_hour):
    """'9-05PM' (a time of a final name) as '21:05'."""
    hour, minute = twelve_hour[:-2].split("-")
    return f"{int(hour) % 12 + (12 if twelve_hour.endswith('PM') else 0):02d}:{minute}"


def on_timeline(frames, ran, uncertainty):
    """Whether a take that ran `ran` s (+- `uncertainty`) from the connection to the Stop click
    holds `frames` frames by the program's timeline of 30 a second, within its band."""
    error = frames - ran * FRAMES_PER_SECOND
    slack = uncertainty * FRAMES_PER_SECOND
    return -TIMELINE_BEHIND - slack <= error <= TIMELINE_AHEAD + slack


class Moment(namedtuple("Moment", "earliest latest")):
    """An instant the test could only see from outside: it fell between `earliest` and
    `latest` (time.monotonic() seconds)."""

    @property
    def mid(self):
        return (self.earliest + self.latest) / 2

    @property
    def width(self):
        return self.latest - self.earliest


def wait_for(check, timeout, interval=0.005, give_up=None):
    """Polls `check()` until it is true; returns the Moment it became true: after the last
    poll that saw it false was sent, no later than the answer of the one that saw it true.
    None after `timeout` s. `give_up()`, asked every quarter second, ends the wait early (also
    with None) when it gives a true value."""
    deadline = time.monotonic() + timeout
    next_give_up = time.monotonic() + 0.25
    seen_false = time.monotonic()
    while True:
        sent = time.monotonic()
        if check():
            return Moment(seen_false, time.monotonic())
        if sent > deadline:
            return None
        if give_up is not None and sent > next_give_up:
            if give_up():
                return None
            next_give_up = sent + 0.25
        seen_false = sent
        time.sleep(interval)


class Take:
    """One recording through the buttons. start() clicks Start and waits until Stop is
    enabled (the encoder has connected); stop() clicks Stop and waits until Start is enabled.
    Keeps the Moments of each (`saved`: the take's files have their names), and the wall-clock
    times `began` (Start clicked) and `ended` (the files named)."""

    def __init__(self, rec, path=None):
        self.rec = rec
        self.driver = rec.driver
        self.path = path
        self.start_button = rec.child(ID_START)
        self.stop_button = rec.child(ID_STOP)
        self.start_clicked = self.connected = self.stop_clicked = self.stopped = self.saved = None
        self.began = self.ended = None

    def click_start(self):
        """Types the path (unless None: the edit box keeps its text) and clicks Start."""
        if self.path is not None:
            self.driver.set_text(self.rec.child(ID_PATH_EDIT), self.path)
        self.began = time.time()
        sent = time.monotonic()
        self.driver.click(self.start_button)
        self.start_clicked = Moment(sent, time.monotonic())

    def start(self, timeout=30.0):
        """click_start(), then waits until Stop is enabled; fails on a message box instead."""
        self.click_start()
        self.connected = wait_for(lambda: self.driver.enabled(self.stop_button), timeout,
                                  give_up=self.rec.dialogs)
        if self.connected is None:
            boxes = [(d.caption, d.text) for d in self.rec.dialogs()]
            raise AssertionError(f"Stop was not enabled within {timeout} s of Start; "
                                 f"message boxes: {boxes}")
        return self

    def click_stop(self):
        sent = time.monotonic()
        self.driver.click(self.stop_button)
        self.stop_clicked = Moment(sent, time.monotonic())

    def wait_stopped(self, timeout):
        """Waits until Start is enabled again; the Moment, or None. Then waits, within the same
        time, until the take's files have their names (the status line no longer says it is
        saving)."""
        self.stopped = wait_for(lambda: self.driver.enabled(self.start_button), timeout)
        if self.stopped is not None:
            self.saved = wait_saved(self.rec, timeout)
        self.ended = time.time()
        return self.stopped

    def stop(self, timeout=30.0):
        self.click_stop()
        if self.wait_stopped(timeout) is None:
            raise AssertionError(f"Start was not enabled within {timeout} s of Stop")
        return self

    def record(self, seconds):
        """start(), `seconds` of recording, stop()."""
        self.start()
        time.sleep(seconds)
        return self.stop()

    @property
    def ran(self):
        """(seconds from the connection to the Stop click, their uncertainty)."""
        return (self.stop_clicked.mid - self.connected.mid,
                (self.stop_clicked.width + self.connected.width) / 2)


def status_text(rec):
    """The control window's status line."""
    return rec.driver.text(rec.child(ID_STATUS))


def wait_saved(rec, timeout):
    """Waits until no take is being saved; the Moment, or None."""
    return wait_for(lambda: not status_text(rec).startswith(SAVING_STATUS), timeout,
                    interval=0.05)


def is_idle(rec):
    """True when the control window is ready for a new recording: Start on, Stop off."""
    return rec.driver.enabled(rec.child(ID_START)) and not rec.driver.enabled(rec.child(ID_STOP))


def encoders_of(driver, pid):
    """The encoder processes (ffmpeg.exe) that the program with Windows process id `pid`
    started and that still run."""
    return [p for p in driver.processes()
            if p.exe.lower() == ENCODER_EXE and p.parent == pid]


def stage_files(stage, pattern):
    """The names of the stage's files that match the regular expression `pattern`."""
    return sorted(n for n in os.listdir(stage.dir) if re.fullmatch(pattern, n))


def last_take_file(folder):
    """The file in `folder` (a Linux path) that LastPath names: the last take's video, when the
    take was recorded there."""
    return os.path.join(folder, env.read_last_path().rsplit("\\", 1)[-1])


def relay_runs(stage, rewrites=False):
    """The encoder relay's run records in the stage (NVR_RELAY_RECORD): one dict per run
    (pid, bytes, frames, exit, cmdline); [] when it never ran. Only the takes' runs, or with
    `rewrites` only the rewrites of finished takes into standard MP4 files."""
    if not os.path.exists(stage.path("relay.txt")):
        return []
    runs = []
    with open(stage.path("relay.txt"), encoding="utf-8", errors="replace") as records:
        for line in records:
            fields, _, cmdline = line.partition(" cmdline=")
            if ("+faststart" in cmdline) == rewrites:
                run = dict(item.partition("=")[::2] for item in fields.split())
                runs.append({**run, "cmdline": cmdline.strip()})
    return runs


def relay_env(stage, fault=None, first_only=False):
    """Environment for a program run whose encoder relay records its runs in the stage; with
    `first_only`, the `fault` mode applies to the run's first encoder only."""
    extra = {"NVR_RELAY_RECORD": stage.windows_path("relay.txt"),
             "NVR_RELAY_LOG": stage.windows_path("relay.log")}
    if fault:
        extra["NVR_RELAY_FAULT"] = fault
    if first_only:
        extra["NVR_RELAY_FAULT_FIRST_ONLY"] = "1"
    return extra


class FrameReport(namedtuple("FrameReport", "numbers missing repeats backwards")):
    """What the frame numbers of a recording say: `missing` sensor frames between its first
    and last, `repeats` {number: extra copies}, `backwards` [(index, number, next)]."""

    @classmethod
    def of(cls, numbers):
        present = set(numbers)
        missing = [n for n in range(min(numbers, default=0), max(numbers, default=-1) + 1)
                   if n not in present]
        repeats = {n: c - 1 for n, c in sorted(Counter(numbers).items()) if c > 1}
        backwards = [(i, a, b) for i, (a, b) in enumerate(zip(numbers, numbers[1:])) if b < a]
        return cls(numbers, missing, repeats, backwards)

    @property
    def count(self):
        return len(self.numbers)

    @property
    def repeated(self):
        """Frames in the file beyond the first copy of each sensor frame."""
        return sum(self.repeats.values())

    def describe(self):
        return (f"{self.count} frames of sensor frames {self.numbers[:1]}..{self.numbers[-1:]}; "
                f"{len(self.missing)} missing {self.missing[:20]}; {self.repeated} repeated "
                f"{dict(list(self.repeats.items())[:20])}; {len(self.backwards)} out of order "
                f"{self.backwards[:10]}")
