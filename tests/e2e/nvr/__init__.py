"""End-to-end test library for Nimbra VIZ Recorder: drives the program under Wine through
nvrdrive.exe, takes screenshots, reads settings and recordings. Standard library only."""

from . import env, image, projection, skeleton, video
from .driver import Driver, DriverError, DriverTimeout
from .image import Image, screenshot
from .recorder import Recorder
from .stage import Stage
from .testcase import RecorderTestCase
from .video import decode_frame_numbers, ffprobe_info

__all__ = ["env", "image", "projection", "skeleton", "video", "Driver", "DriverError",
           "DriverTimeout", "Image", "screenshot", "Recorder", "Stage", "RecorderTestCase",
           "decode_frame_numbers", "ffprobe_info"]
