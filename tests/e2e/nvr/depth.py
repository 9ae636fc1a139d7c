"""A take's depth file and frames file read back: the 16-bit depth frames of the .depth.mkv
(decoded by Linux ffmpeg), the simulated runtime's frame code in them, and the rows of the
.frames.csv."""

import array
import csv
import datetime
import subprocess
import sys

DEPTH_MM_ONE = 3000  # the code band's value for a set bit, in millimetres
CODE_BLOCKS = 16


def decode_depth(mkv_path, width, height, timeout=600):
    """Every frame of the depth file as a list of width*height 16-bit values."""
    out = subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-i", mkv_path, "-f", "rawvideo",
                          "-pix_fmt", "gray16le", "-"], capture_output=True, timeout=timeout,
                         check=True).stdout
    size = width * height * 2
    frames = []
    for offset in range(0, len(out) - size + 1, size):
        values = array.array("H", out[offset:offset + size])
        if sys.byteorder != "little":
            values.byteswap()
        frames.append(values)
    return frames


def frame_number(values, width):
    """The simulated runtime's frame code in a depth frame: 16 blocks across the top band,
    most significant bit first, a set bit 3000 mm deep."""
    block = 40 if width >= 640 else 20
    row = 24 if width >= 640 else 12
    number = 0
    for i in range(CODE_BLOCKS):
        value = values[row * width + i * block + block // 2]
        number = (number << 1) | (1 if value >> 3 == DEPTH_MM_ONE else 0)
    return number


def player_indices(values):
    """{player index: pixels} of a depth frame, index 0 left out."""
    counts = {}
    for value in values:
        if value & 7:
            counts[value & 7] = counts.get(value & 7, 0) + 1
    return counts


def read_frames_csv(path):
    """The frames file's rows, with numbers as ints (depth columns None when empty) and
    host_time as an aware datetime."""
    rows = []
    with open(path, encoding="utf-8", newline="") as frames:
        for row in csv.DictReader(frames):
            rows.append({
                "frame": int(row["frame"]), "time_s": float(row["time_s"]),
                "color_frame": int(row["color_frame"]),
                "depth_frame": int(row["depth_frame"]) if row["depth_frame"] else None,
                "repeated": int(row["repeated"]),
                "host_time": datetime.datetime.fromisoformat(row["host_time"])})
    return rows
