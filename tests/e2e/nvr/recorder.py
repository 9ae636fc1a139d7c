"""One run of NimbraVIZRecorder.exe under Wine, found, placed and always ended."""

import subprocess
import time

from . import env, image
from .driver import DriverError, DriverTimeout

CONTROL_CLASS = "KinectMain"
OUTPUT_CLASS = "KinectOutput"
CONTROL_TITLE = "Nimbra VIZ Recorder"
OUTPUT_TITLE = "Kinect Output"

# Control ids of the control window; menu commands.
ID_SHOW_COLOR = 1
ID_PATH_EDIT = 0
ID_START = 2
ID_STOP = 3
ID_SAVE_PATH = 4
IDM_QUIT = 101
IDM_ABOUT = 102
IDM_SAVE_SKELETON = 103

# Where the windows are put: without a window manager both open at (0, 0) and overlap.
CONTROL_POS = (0, 0)
OUTPUT_POS = (410, 0)


class Recorder:
    """Starts the program in `stage` with `extra_env` added to the test environment, waits for
    both windows (`control`, `output`, and the process id `pid`) and moves them apart. Use as a
    context manager, or call kill() (idempotent) in a cleanup."""

    def __init__(self, stage, driver, extra_env=None, start_timeout=30.0):
        self.stage = stage
        self.driver = driver
        self.extra_env = dict(extra_env or {})
        self.start_timeout = start_timeout
        self.proc = None
        self.pid = None
        self.control = None
        self.output = None
        self._log = None

    def start(self):
        stale = [w for w in self.driver.windows() if w.cls in (CONTROL_CLASS, OUTPUT_CLASS)]
        if stale:
            raise RuntimeError(f"a recorder from an earlier test is still running: {stale}")
        self._log = open(self.stage.path("program.log"), "wb")
        # The program's output goes to a file: a pipe would be held open by what it starts.
        self.proc = subprocess.Popen(["wine", self.stage.program], cwd=self.stage.dir,
                                     env=env.wine_env(self.extra_env), stdin=subprocess.DEVNULL,
                                     stdout=self._log, stderr=subprocess.STDOUT,
                                     start_new_session=True)
        self.control = self._wait_window(CONTROL_CLASS, None)
        self.pid = self.driver.pid(self.control)
        # Wine's exit status of the Linux process is not reliably the Windows exit code (a
        # terminated program with several threads often shows 0); the driver's handle is.
        self.driver.watch(self.pid)
        self.output = self._wait_window(OUTPUT_CLASS, self.pid)
        self.driver.move(self.control, *CONTROL_POS)
        self.driver.move(self.output, *OUTPUT_POS)
        return self

    def _wait_window(self, cls, pid):
        """The program's visible top-level window of class `cls` (shown, so its creation has
        finished); fails early if the program ends."""
        deadline = time.monotonic() + self.start_timeout
        while True:
            if pid is None:
                try:
                    return self.driver.find(cls, 0.25)
                except DriverError:
                    pass
            else:
                for window in self.driver.windows(pid):
                    if window.cls == cls and window.visible:
                        return window.hwnd
                time.sleep(0.1)
            if self.proc.poll() is not None:
                raise AssertionError(f"the program ended with exit code {self.proc.returncode} "
                                     f"before its {cls} window appeared")
            if time.monotonic() > deadline:
                raise AssertionError(f"no {cls} window within {self.start_timeout} s")

    def child(self, control_id):
        """A control of the control window by its id."""
        return self.driver.child(self.control, control_id)

    def dialogs(self):
        return self.driver.dialogs(self.pid)

    def wait_exit(self, timeout):
        """The program's Windows exit code; AssertionError if it still runs after `timeout` s."""
        try:
            code = self.driver.wait_exit(self.pid, timeout)
        except DriverTimeout:
            raise AssertionError(f"the program did not end within {timeout} s") from None
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            raise AssertionError("the program's Wine process outlived it by 10 s") from None
        return code

    def client_shot(self, hwnd, png_name=None):
        """(screenshot, client) for a window of the program; the PNG goes into the stage."""
        client = self.driver.client(hwnd)
        shot = image.screenshot(self.stage.path(png_name) if png_name else None)
        return shot, client

    def kill(self):
        """Ends the program and what it started (the encoder relay, ...), if still running."""
        if self.proc is None:
            return
        if self.pid is not None:
            try:
                # Also after a normal end: a process the program started may be left behind.
                self.driver.terminate(self.pid, timeout=5.0)
            except DriverError:
                pass
        if self.proc.poll() is None:
            self.proc.kill()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            pass
        if self._log:
            self._log.close()
            self._log = None

    def __enter__(self):
        try:
            return self.start()
        except BaseException:
            self.kill()
            raise

    def __exit__(self, *exc):
        self.kill()
