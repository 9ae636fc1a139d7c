"""End-to-end test library for Nimbra VIZ Recorder: drives the program under Wine through
nvrdrive.exe, takes screenshots, reads settings and recordings. Standard library only."""

from . import depth, env, image, projection, skeleton, video
from .driver import Driver
from .recorder import Recorder
from .stage import Stage
from .testcase import RecorderTestCase

__all__ = ["depth", "env", "image", "projection", "skeleton", "video", "Driver", "Recorder", "Stage",
           "RecorderTestCase"]
