"""Recordings made the way a user makes them, through the control window's buttons: the times
of a take as seen from outside, the final name the program gives its file, the encoder
processes it starts, and what the recorded frame numbers say."""

import os
import re
import subprocess
import time
from collections import Counter, namedtuple

from . import env
from .driver import DriverError
from .recorder import (CONTROL_CLASS, CONTROL_POS, ID_PATH_EDIT, ID_START, ID_STOP,
                       OUTPUT_CLASS, OUTPUT_POS, Recorder)
from .video import decode_frame_numbers

ENCODER_EXE = "ffmpeg.exe"
FRAMES_PER_SECOND = 30

FAILED_START_TEXT = "Failed to start FFmpeg."
ENCODER_LOST_TEXT = "Recording stopped: FFmpeg ended unexpectedly."
ERROR_CAPTION = "Error"

# "<path>_YYYY-MM-DD__H-MMAM_to_H-MMPM.mp4": 12-hour clock, no leading zero on the hour.
FINAL_NAME = re.compile(r"^(?P<path>.*)_\d{4}-(0[1-9]|1[0-2])-(0[1-9]|[12]\d|3[01])__"
                        r"([1-9]|1[0-2])-[0-5]\d(AM|PM)_to_([1-9]|1[0-2])-[0-5]\d(AM|PM)\.mp4$")


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


def twelve_hour(hour):
    """(hour on the 12-hour clock, "AM" or "PM") of an hour 0..23."""
    return hour % 12 or 12, "AM" if hour < 12 else "PM"


def final_name(path, start, end):
    """The name a recording of `path` gets at its stop, from local times `start` and `end`
    (time.struct_time)."""
    start_hour, start_mark = twelve_hour(start.tm_hour)
    end_hour, end_mark = twelve_hour(end.tm_hour)
    return (f"{path}_{start.tm_year:04d}-{start.tm_mon:02d}-{start.tm_mday:02d}__"
            f"{start_hour}-{start.tm_min:02d}{start_mark}_to_"
            f"{end_hour}-{end.tm_min:02d}{end_mark}.mp4")


class Take:
    """One recording through the buttons. start() clicks Start and waits until Stop is
    enabled (the encoder has connected); stop() clicks Stop and waits until Start is enabled.
    Keeps the Moments of each and the wall-clock times around them for the final name."""

    def __init__(self, rec, path=None):
        self.rec = rec
        self.driver = rec.driver
        self.path = path
        self.start_button = rec.child(ID_START)
        self.stop_button = rec.child(ID_STOP)
        self.start_clicked = self.connected = self.stop_clicked = self.stopped = None
        self.start_walls = self.end_walls = ()

    def click_start(self):
        """Types the path (unless None: the edit box keeps its text) and clicks Start."""
        if self.path is not None:
            self.driver.set_text(self.rec.child(ID_PATH_EDIT), self.path)
        wall = time.time()
        sent = time.monotonic()
        self.driver.click(self.start_button)
        self.start_clicked = Moment(sent, time.monotonic())
        self.start_walls = (wall,)

    def wait_connected(self, timeout):
        """Waits until Stop is enabled; the Moment, or None when it was not within `timeout`
        or a message box came up instead."""
        self.connected = wait_for(lambda: self.driver.enabled(self.stop_button), timeout,
                                  give_up=self.rec.dialogs)
        if self.connected is not None:
            self.start_walls += (time.time(),)
        return self.connected

    def start(self, timeout=30.0):
        self.click_start()
        if self.wait_connected(timeout) is None:
            boxes = [(d.caption, d.text) for d in self.rec.dialogs()]
            if boxes:
                raise AssertionError(f"Start gave a message box, not a recording: {boxes}")
            raise AssertionError(f"Stop was not enabled within {timeout} s of Start")
        return self

    def click_stop(self):
        wall = time.time()
        sent = time.monotonic()
        self.driver.click(self.stop_button)
        self.stop_clicked = Moment(sent, time.monotonic())
        self.end_walls = (wall,)

    def wait_stopped(self, timeout):
        """Waits until Start is enabled again; the Moment, or None."""
        self.stopped = wait_for(lambda: self.driver.enabled(self.start_button), timeout)
        if self.stopped is not None:
            self.end_walls += (time.time(),)
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

    def possible_final_names(self, path):
        """The names the stop may have given the file: the program reads the start time
        between the Start click and the connection, the end time between the Stop click and
        Start enabled, so each may be either minute seen around them."""
        return {final_name(path, time.localtime(s), time.localtime(e))
                for s in self.start_walls for e in self.end_walls}


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


def relay_runs(stage, name="relay.txt"):
    """The encoder relay's run records (NVR_RELAY_RECORD) in the stage: one dict per run
    (pid, bytes, frames, exit, cmdline); [] when it never ran."""
    path = stage.path(name)
    if not os.path.exists(path):
        return []
    runs = []
    with open(path, "rb") as records:
        for line in env.decode_ini_bytes(records.read()).splitlines():
            fields = {}
            head, _, cmdline = line.partition(" cmdline=")
            for item in head.split():
                key, _, value = item.partition("=")
                fields[key] = value
            fields["cmdline"] = cmdline
            runs.append(fields)
    return runs


def relay_env(stage, name="relay.txt", fault=None):
    """Environment for a program run whose encoder relay records its runs in the stage."""
    extra = {"NVR_RELAY_RECORD": stage.windows_path(name),
             "NVR_RELAY_LOG": stage.windows_path("relay.log")}
    if fault:
        extra["NVR_RELAY_FAULT"] = fault
    return extra


# The name the recording benchmark reads its takes' frame numbers by.
frame_numbers_streamed = decode_frame_numbers


class FrameReport(namedtuple("FrameReport", "numbers missing repeats backwards")):
    """What the frame numbers of a recording say: `missing` sensor frames between its first
    and last, `repeats` {number: extra copies}, `backwards` [(index, number, next)]."""

    @classmethod
    def of(cls, numbers):
        if not numbers:
            return cls(numbers, [], {}, [])
        present = set(numbers)
        missing = [n for n in range(min(numbers), max(numbers) + 1) if n not in present]
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
        if not self.numbers:
            return "no frames"
        repeats = ", ".join(f"{n}x{c + 1}" for n, c in self.repeats.items())
        return (f"{self.count} frames of sensor frames {self.numbers[0]}..{self.numbers[-1]}; "
                f"{len(self.missing)} missing {_ranges(self.missing)}; "
                f"{self.repeated} repeated [{repeats}]; "
                f"{len(self.backwards)} out of order {self.backwards[:10]}")


def _ranges(numbers):
    """[3, 4, 5, 9] -> '[3-5, 9]'."""
    parts = []
    for n in numbers:
        if parts and parts[-1][1] == n - 1:
            parts[-1][1] = n
        else:
            parts.append([n, n])
    return "[" + ", ".join(f"{a}" if a == b else f"{a}-{b}" for a, b in parts) + "]"


class CompanionRecorder(Recorder):
    """A Recorder that runs beside another copy of the program: its windows are the ones that
    were not there before it started. Placed where the first copy's are."""

    def start(self):
        known = {w.hwnd for w in self.driver.windows() if w.cls == CONTROL_CLASS}
        self._log = open(self.stage.path("program.log"), "wb")
        self.proc = subprocess.Popen(["wine", self.stage.program], cwd=self.stage.dir,
                                     env=env.wine_env(self.extra_env), stdin=subprocess.DEVNULL,
                                     stdout=self._log, stderr=subprocess.STDOUT,
                                     start_new_session=True)
        deadline = time.monotonic() + self.start_timeout
        while self.control is None or self.output is None:
            if self.proc.poll() is not None:
                raise AssertionError("the second copy ended before its windows appeared")
            if time.monotonic() > deadline:
                raise AssertionError(f"no windows of the second copy within "
                                     f"{self.start_timeout} s")
            try:
                windows = self.driver.windows()
            except DriverError:
                windows = []
            if self.control is None:
                fresh = [w for w in windows
                         if w.cls == CONTROL_CLASS and w.visible and w.hwnd not in known]
                if fresh:
                    self.control = fresh[0].hwnd
                    self.pid = fresh[0].pid
                    self.driver.watch(self.pid)
            else:
                self.output = next((w.hwnd for w in windows if w.pid == self.pid
                                    and w.cls == OUTPUT_CLASS and w.visible), None)
            time.sleep(0.1)
        self.driver.move(self.control, *CONTROL_POS)
        self.driver.move(self.output, *OUTPUT_POS)
        return self
