"""Skeleton data: what the simulated runtime says it delivered (its NVR_SIM_SKELETON_LOG) and
what the program wrote beside a take (its .skeleton.csv). Joint coordinates come back rounded
to 32-bit floats, so values of the two sides compare exactly."""

import csv
import os

from .projection import f32

JOINT_COUNT = 20
RECORD_COUNT = 6
TRACKED = 2


def read_sim_log(path):
    """The frames the simulated runtime handed out, as {frame number: {"time_ms": t,
    "records": [six {"state", "id", "joints": [20 (x, y, z, state)]}]}}; {} while the file is
    missing. A frame still being written is left out. Frame numbers restart with each
    NuiInitialize: a later session's frame replaces an earlier one of the same number."""
    frames = {}
    if not os.path.exists(path):
        return frames
    with open(path, encoding="ascii", newline="") as log:
        lines = log.read().split("\n")[:-1]  # the text after the last line end is unfinished
    for start in range(0, len(lines) - RECORD_COUNT, RECORD_COUNT + 1):
        _, number, time_ms = lines[start].split()
        records = []
        for line in lines[start + 1:start + 1 + RECORD_COUNT]:
            fields = line.split()
            values = fields[4:]
            joints = [(f32(float(values[i])), f32(float(values[i + 1])),
                       f32(float(values[i + 2])), int(values[i + 3]))
                      for i in range(0, 4 * JOINT_COUNT, 4)]
            records.append({"state": int(fields[2]), "id": int(fields[3]), "joints": joints})
        frames[int(number)] = {"time_ms": int(time_ms), "records": records}
    return frames


def read_csv(path):
    """The rows of a skeleton file, in file order, each a dict of the leading columns named by
    its header, as numbers (time_s a float, the rest ints), plus "joints": [20 (x, y, z, u, v,
    state)]."""
    with open(path, encoding="utf-8", newline="") as file:
        reader = csv.reader(file)
        header = next(reader)
        rows = []
        for fields in reader:
            row = {name: float(value) if name == "time_s" else int(value)
                   for name, value in zip(header[:8], fields[:8])}
            values = fields[8:]
            row["joints"] = [(f32(float(values[i])), f32(float(values[i + 1])),
                              f32(float(values[i + 2])), int(values[i + 3]), int(values[i + 4]),
                              int(values[i + 5]))
                             for i in range(0, 6 * JOINT_COUNT, 6)]
            rows.append(row)
    return rows
