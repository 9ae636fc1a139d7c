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
ID_STATUS = 5
IDM_QUIT = 101
IDM_ABOUT = 102
IDM_SAVE_SKELETON = 103
IDM_OPEN_FOLDER = 104
IDM_SAVE_DEPTH = 105
# Message box answers.
IDOK = 1
IDYES = 6
IDNO = 7

# Where the windows are put: without a window manager both open at (0, 0) and overlap.
CONTROL_POS = (0, 0)
OUTPUT_POS = (410, 0)


def launch(stage, args, extra_env=None, log_name="launch.log"):
    """Starts the program in `stage` with the command-line arguments `args`, for a run that makes
    no windows of its own (a request handed to a running copy, the usage box), and returns its
    subprocess.Popen. A program that returns from wWinMain gives Wine its exit code, so the
    Popen's returncode is the Windows exit code; kill it in a cleanup."""
    with open(stage.path(log_name), "ab") as log:
        return subprocess.Popen(["wine", stage.program, *args], cwd=stage.dir,
                                env=env.wine_env(extra_env), stdin=subprocess.DEVNULL,
                                stdout=log, stderr=subprocess.STDOUT, start_new_session=True)


class Recorder:
    """Starts the program in `stage` with the command-line arguments `args` and `extra_env`
    added to the test environment, waits for both windows (`control`, `output`, and the process
    id `pid`) and moves them apart. With `beside` it may run beside another copy: its windows
    are those that were not there before. Use as a context manager, or call kill() (idempotent)
    in a cleanup."""

    def __init__(self, stage, driver, extra_env=None, start_timeout=30.0, beside=False, args=()):
        self.stage = stage
        self.driver = driver
        self.args = list(args)
        self.extra_env = dict(extra_env or {})
        self.start_timeout = start_timeout
        self.beside = beside
        self.proc = None
        self.pid = None
        self.control = None
        self.output = None
        self._log = None

    def start(self):
        known = {w.hwnd for w in self.driver.windows() if w.cls in (CONTROL_CLASS, OUTPUT_CLASS)}
        if known and not self.beside:
            raise RuntimeError(f"a recorder from an earlier test is still running: {known}")
        self._log = open(self.stage.path("program.log"), "wb")
        # The program's output goes to a file: a pipe would be held open by what it starts.
        self.proc = subprocess.Popen(["wine", self.stage.program, *self.args],
                                     cwd=self.stage.dir, env=env.wine_env(self.extra_env),
                                     stdin=subprocess.DEVNULL, stdout=self._log,
                                     stderr=subprocess.STDOUT, start_new_session=True)
        self.control = self._wait_window(CONTROL_CLASS, 0, known)
        self.pid = self.driver.pid(self.control)
        # Wine's exit status of the Linux process is not reliably the Windows exit code (a
        # terminated program with several threads often shows 0); the driver's handle is.
        self.driver.watch(self.pid)
        self.output = self._wait_window(OUTPUT_CLASS, self.pid, known)
        self.driver.move(self.control, *CONTROL_POS)
        self.driver.move(self.output, *OUTPUT_POS)
        return self

    def _wait_window(self, cls, pid, known):
        """A new visible top-level window of class `cls` (of process `pid`, 0 for any): shown,
        so its creation has finished. Fails early if the program ends."""
        deadline = time.monotonic() + self.start_timeout
        while True:
            for window in self.driver.windows(pid):
                if window.cls == cls and window.visible and window.hwnd not in known:
                    return window.hwnd
            if self.proc.poll() is not None:
                raise AssertionError(f"the program ended with exit code {self.proc.returncode} "
                                     f"before its {cls} window appeared")
            if time.monotonic() > deadline:
                raise AssertionError(f"no {cls} window within {self.start_timeout} s")
            time.sleep(0.1)

    def child(self, control_id):
        """A control of the control window by its id."""
        return self.driver.child(self.control, control_id)

    def dialogs(self):
        return self.driver.dialogs(self.pid)

    def message_box(self, caption, timeout=10.0):
        """The program's dialog with this caption, once it is open (driver.Dialog)."""
        hwnd = self.driver.wait_dialog(self.pid, timeout, caption)
        return next(d for d in self.dialogs() if d.hwnd == hwnd)

    def confirm_in_save_dialog(self, windows_path, timeout=10.0):
        """Opens the Save dialog with the "Save Path:" button, chooses the existing file
        `windows_path` and answers Yes to the dialog's own question whether to replace it."""
        self.driver.click(self.child(ID_SAVE_PATH))
        dialog = self.driver.save_dialog(self.pid, timeout)
        self.driver.save_dialog_choose(dialog, windows_path)
        prompt = self.driver.wait_new_dialog(self.pid, {dialog}, timeout)
        self.driver.press(prompt.hwnd, IDYES)
        self.driver.wait_gone(dialog, timeout)

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

    def client_colours(self, hwnd, png_name=None):
        """{(r, g, b): pixels} of a window's client area now."""
        shot, client = self.client_shot(hwnd, png_name)
        return shot.crop(client.x, client.y, client.w, client.h).colours()

    def shows_picture(self):
        """Whether the output window shows the simulated sensor's four quadrant colours."""
        colours = self.client_colours(self.output, "picture.png")
        return all(colours.get(c, 0) > 1000 for c in image.QUADRANT_COLOURS.values())

    def shows_black(self):
        """Whether the output window is all black: the render loop paints, with no picture."""
        return list(self.client_colours(self.output, "black.png")) == [(0, 0, 0)]

    def settled_handles(self, samples=8, interval=0.25):
        """(handles, GDI objects) the program holds once it has settled: the least of several
        samples, since the render thread holds a device context and a pen for part of each pass
        and a take's threads end a moment after its files are named."""
        time.sleep(1.0)
        seen = []
        for _ in range(samples):
            seen.append(self.driver.resources(self.pid)[:2])
            time.sleep(interval)
        return min(h for h, _ in seen), min(g for _, g in seen)

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
