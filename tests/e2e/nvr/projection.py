"""A replica of the skeleton overlay's arithmetic, for checking what the output window shows.

Every step is rounded to a 32-bit float, as the program computes it. A double holds a product
or quotient of two 32-bit floats closely enough that rounding it once more to 32 bits gives the
correctly rounded 32-bit result."""

import math
import struct

FLT_EPSILON = 2.0 ** -23          # 1.1920929e-7, bits 0x34000000
K = struct.unpack("<f", struct.pack("<f", 285.63))[0]  # 285.6300048828125

# The body's 19 bones, in drawing order: (from joint, to joint) in the runtime's joint order.
SEGMENTS = ((0, 1), (1, 2), (2, 3),                     # spine, neck and head
            (2, 4), (4, 5), (5, 6), (6, 7),             # left arm
            (2, 8), (8, 9), (9, 10), (10, 11),          # right arm
            (0, 12), (12, 13), (13, 14), (14, 15),      # left leg
            (0, 16), (16, 17), (17, 18), (18, 19))      # right leg


def f32(value):
    """`value` rounded to the nearest 32-bit float."""
    return struct.unpack("<f", struct.pack("<f", value))[0]


def skeleton_to_screen(x, y, z):
    """The integer point of the 640x480 picture for a joint at (x, y, z)."""
    x, y, z = f32(x), f32(y), f32(z)
    if not z > FLT_EPSILON:  # also NaN
        return 0, 0
    fx = f32(f32(f32(x * 2) * K) / z)
    fy = f32(f32(f32(y * 2) * K) / z)
    px = f32(f32(fx + 320) + 0.5)
    py = f32(f32(240 - fy) + 0.5)
    return _trunc(px), _trunc(py)


def _trunc(value):
    if math.isnan(value) or math.isinf(value):
        raise ValueError(f"{value} has no integer point")
    return int(value)  # toward zero


def _div_toward_zero(a, b):
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b > 0) else -q


def scale_to_client(px, py, width, height):
    """A picture point scaled to a client area of width x height, as (X, Y)."""
    return _div_toward_zero(width * px, 640), _div_toward_zero(height * py, 480)


def skeleton_segments(joints, width, height):
    """The 19 drawn segments ((X1, Y1), (X2, Y2)) of a skeleton whose joints are 20 (x, y, z)
    positions, for a client area of width x height."""
    points = [scale_to_client(*skeleton_to_screen(*joint), width, height) for joint in joints]
    return [(points[a], points[b]) for a, b in SEGMENTS]
