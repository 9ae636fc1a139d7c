"""A fresh working folder for one program run, holding the program and a chosen set of the
files it finds beside it."""

import os
import re
import shutil

from . import env

PROGRAM = "NimbraVIZRecorder.exe"
SENSOR_RUNTIME = "Kinect10.dll"
ENCODER = "ffmpeg.exe"
BANNER = "Nimbra_Umbraline VIZ Banner small.bmp"


class Stage:
    """$NVR_TESTENV/stages/<name>, emptied and filled with a copy of the program and, on
    request, the simulated sensor runtime, the encoder relay and the banner (which is copied only
    when the build has it). The program runs with the stage as its current folder; with
    `program_folder` the program and its companions go into that subfolder instead. Left in
    place after the test for inspection."""

    def __init__(self, name, sensor=True, encoder=True, banner=True, program_folder=""):
        self.name = re.sub(r"[^A-Za-z0-9_.-]+", "_", name)
        self.dir = os.path.join(env.testenv_dir(), "stages", self.name)
        self.program_folder = program_folder
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.path(program_folder), exist_ok=True)
        self._copy(PROGRAM, required=True)
        if sensor:
            self._copy(SENSOR_RUNTIME, required=True)
        if encoder:
            self._copy(ENCODER, required=True)
        self.has_banner = banner and self._copy(BANNER, required=False)
        self._windows_dir = None

    def _copy(self, name, required):
        source = os.path.join(env.bin_dir(), name)
        if not os.path.isfile(source):
            if required:
                raise env.TestEnvError(f"{source} is missing: build the project first")
            return False
        shutil.copy2(source, self.path(self.program_folder, name))
        return True

    @property
    def program(self):
        return self.path(self.program_folder, PROGRAM)

    def path(self, *names):
        """A Linux path inside the stage."""
        return os.path.join(self.dir, *names)

    def windows_path(self, *names):
        """The Windows path (as the program sees it) of a file inside the stage."""
        if self._windows_dir is None:
            self._windows_dir = env.to_windows_path(self.dir).rstrip("\\")
        return "\\".join([self._windows_dir] + list(names))
