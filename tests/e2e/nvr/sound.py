"""A sound device for the tests: a private PulseAudio whose pipe source is fed by a thread that
writes quiet noise with tone bursts at known times, at a clock rate of its own, with pauses; and
readers for the WAV, the take file's sound entry and an MP4's sound track."""

import array
import errno
import fcntl
import math
import os
import random
import shutil
import subprocess
import tempfile
import threading
import time
import wave

SENSOR_ARRAY = "Microphone Array (Xbox NUI Sensor)"
BURST_SECONDS = 0.04
BURST_LEVELS = (0.2, 0.4, 0.6, 0.8)  # per channel, so a swapped channel shows
NOISE_LEVEL = 0.001                  # about -60 dB: quiet, but never digital silence
_LEAD = 0.010                        # how far ahead of the host clock the feeder writes
_TICK = 0.004
_BUFFER_BYTES = 1600 * 16            # what the feeder holds that the pipe cannot take: 0.1 s


class SoundDevice:
    """PulseAudio in a private XDG_RUNTIME_DIR (mode 700) with one capture device `name` (4 ch
    float32 16 kHz) made from a FIFO. A feeder writes rate x (1 + ppm / 1e6) frames per host
    second, non-blocking and about 10 ms ahead (up to 0.1 s is held when the pipe is full),
    with a burst every `period` s of host time.
    `bursts` holds the wall-clock time (time.time()) of each burst's first frame as written;
    pause(s) stops the device for s seconds (no frames: only the packets' stamps jump). Give
    `env` to every Wine process that should see it, before it starts."""

    def __init__(self, name=SENSOR_ARRAY, rate=16000, channels=4, ppm=0.0, period=2.0):
        self.name, self.rate, self.channels = name, rate, channels
        self.speed = rate * (1 + ppm / 1e6)
        self.period = period
        self.dir = tempfile.mkdtemp(prefix="nvr-pulse-")
        os.chmod(self.dir, 0o700)
        self.env = {"XDG_RUNTIME_DIR": self.dir}
        self.bursts, self.pauses, self.dropped = [], [], 0
        self._stop = threading.Event()
        self._pause_until = 0.0
        self._thread = None

    def _pactl(self, *args):
        subprocess.run(["pactl", *args], env={**os.environ, **self.env}, check=True,
                       capture_output=True, timeout=20)

    def start(self):
        subprocess.run(["pulseaudio", "-n", "--daemonize=yes", "--exit-idle-time=-1",
                        "--system=false", "--load=module-native-protocol-unix auth-anonymous=1"],
                       env={**os.environ, **self.env}, check=True, capture_output=True,
                       timeout=30)
        fifo = os.path.join(self.dir, "mic.fifo")
        channel_map = "front-left,front-right,rear-left,rear-right"[:self.channels * 11 - 1]
        self._pactl("load-module", "module-pipe-source", "source_name=mic", f"file={fifo}",
                    "format=float32le", f"rate={self.rate}", f"channels={self.channels}",
                    f"channel_map={channel_map}",
                    f"source_properties=\"device.description='{self.name}'\"")
        self._pactl("set-default-source", "mic")
        self._fd = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
        # A small pipe, as a device that nobody captures keeps no backlog of old sound.
        fcntl.fcntl(self._fd, 1031, 8192)  # F_SETPIPE_SZ
        self._thread = threading.Thread(target=self._feed, daemon=True)
        self._thread.start()
        return self

    def pause(self, seconds):
        """The device delivers nothing for `seconds` from now; returns (wall start, end)."""
        now = time.time()
        self._pause_until = time.monotonic() + seconds
        self.pauses.append((now, now + seconds))
        return self.pauses[-1]

    def _feed(self):
        rng = random.Random(7)
        noise = array.array("f", (rng.uniform(-NOISE_LEVEL, NOISE_LEVEL)
                                  for _ in range(self.rate * self.channels)))
        burst_frames = int(BURST_SECONDS * self.rate)
        burst = array.array("f", (BURST_LEVELS[c] * math.sin(2 * math.pi * 1000 * i / self.rate)
                                  for i in range(burst_frames) for c in range(self.channels)))
        start = time.monotonic()
        wall = time.time() - start  # wall clock = monotonic + wall
        base = start               # host time of frame 0, moved on by each pause
        written, burst_start, paused = 0, -burst_frames, False
        pending = bytearray()
        next_burst = start + self.period
        while not self._stop.wait(_TICK):
            now = time.monotonic()
            if now < self._pause_until:
                paused = True
                continue
            if paused:  # the frames of a pause never come
                base, paused = now - written / self.speed, False
            due = int((now - base + _LEAD) * self.speed)
            while next_burst < base + due / self.speed:
                first = round((next_burst - base) * self.speed)
                if first >= written:
                    self.bursts.append(wall + base + first / self.speed)
                    burst_start = first
                next_burst += self.period
            chunk = array.array("f")
            for k in range(written, due):
                i = (k - burst_start) * self.channels
                offset = k % self.rate * self.channels
                chunk.extend(burst[i:i + self.channels] if 0 <= i < len(burst)
                             else noise[offset:offset + self.channels])
            # A device buffers what is not read at once, and loses the oldest past its buffer
            # (only while nothing captures: a capture reads every few tens of ms).
            pending += chunk.tobytes()
            while pending:
                try:
                    del pending[:os.write(self._fd, pending[:4096])]
                except OSError as error:
                    if error.errno != errno.EAGAIN:
                        raise
                    break
            excess = len(pending) - _BUFFER_BYTES // 16 * 16
            if excess > 0:
                del pending[:excess + (-excess) % 16]
                self.dropped += excess
            written = due

    def stop(self):
        self._stop.set()
        if self._thread:
            self._thread.join(5)
        if getattr(self, "_fd", None) is not None:
            os.close(self._fd)
            self._fd = None
        subprocess.run(["pulseaudio", "--kill"], env={**os.environ, **self.env},
                       capture_output=True, timeout=20, check=False)
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        try:
            return self.start()
        except BaseException:
            self.stop()
            raise

    def __exit__(self, *exc):
        self.stop()


def read_wav(path):
    """A WAV (RIFF or RF64) of 32-bit floats: ({tag, channels, rate, bits, mask, float}, the
    interleaved samples as array('f'), the frame count the header gives)."""
    with open(path, "rb") as file:
        data = file.read()
    chunks, at, header_frames = {}, 12, None
    while at + 8 <= len(data):
        name, size = data[at:at + 4], int.from_bytes(data[at + 4:at + 8], "little")
        if name == b"ds64":
            size64 = int.from_bytes(data[at + 16:at + 24], "little")
        if name == b"data" and size == 0xFFFFFFFF:
            size = size64
        chunks[name] = data[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    fmt = chunks[b"fmt "]
    info = {"tag": int.from_bytes(fmt[0:2], "little"), "channels": int.from_bytes(fmt[2:4], "little"),
            "rate": int.from_bytes(fmt[4:8], "little"), "bits": int.from_bytes(fmt[14:16], "little"),
            "mask": int.from_bytes(fmt[20:24], "little") if len(fmt) >= 40 else None,
            "float": fmt[24:26] == b"\x03\x00" if len(fmt) >= 40 else None}
    samples = array.array("f")
    body = chunks.get(b"data", b"")
    samples.frombytes(body[:len(body) // 4 * 4])
    header_frames = len(body) // (4 * info["channels"])
    return info, samples, header_frames


def onsets(samples, channels, channel=0, level=0.1, quiet=0.5, rate=16000):
    """The frame indices where a burst begins in `channel`: above `level` after `quiet` s
    below it."""
    found, last = [], -10 ** 9
    for k in range(channel, len(samples), channels):
        if abs(samples[k]) > level:
            frame = k // channels
            if frame - last > quiet * rate:
                found.append(frame)
            last = frame
    return found


def decode_sound_track(mp4_path, rate=16000):
    """The MP4's sound track decoded to mono floats at `rate`."""
    out = subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-i", mp4_path, "-map", "0:a:0",
                          "-ac", "1", "-ar", str(rate), "-f", "f32le", "-"],
                         capture_output=True, timeout=300, check=True).stdout
    samples = array.array("f")
    samples.frombytes(out)
    return samples


def stream_durations(mp4_path):
    """{codec_type: duration in s} of the file's streams, as the container gives them."""
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                          "stream=codec_type,codec_name,duration", "-of", "csv=p=0", mp4_path],
                         capture_output=True, timeout=60, check=True).stdout.decode()
    return {kind: (name, float(duration)) for name, kind, duration in
            (line.split(",") for line in out.split())}
