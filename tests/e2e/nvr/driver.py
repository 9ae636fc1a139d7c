"""Python side of nvrdrive.exe: one driver process per test, request/reply with a time limit."""

import os
import queue
import re
import subprocess
import threading
import time
from collections import namedtuple

from . import env

Child = namedtuple("Child", "hwnd id cls style enabled visible x y w h text")
Window = namedtuple("Window", "hwnd pid cls visible title")
Dialog = namedtuple("Dialog", "hwnd buttons caption text")
Process = namedtuple("Process", "pid parent exe")
Rect = namedtuple("Rect", "x y w h")
Client = namedtuple("Client", "w h x y")


class DriverError(RuntimeError):
    """The driver answered `err ...`."""


class DriverTimeout(DriverError):
    """The driver answered `err timeout`, or did not answer at all within the time limit."""


def escape(text):
    """The protocol's escaping of a request's last field (see tools/guidriver/README.md)."""
    out = text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n")
    return out.replace("\t", "\\t")


_UNESCAPES = {"\\": "\\", "r": "\r", "n": "\n", "t": "\t", "s": " ", "0": ""}


def unescape(text):
    """The protocol's unescaping of a reply's text field."""
    try:
        return re.sub(r"\\(.?)", lambda match: _UNESCAPES[match.group(1)], text)
    except KeyError:
        raise DriverError(f"bad escape in driver reply: {text!r}") from None


def _split(text, count):
    """Splits a reply into `count` fields, the last keeping its spaces; pads with ''."""
    fields = text.split(" ", count - 1) if text else []
    return fields + [""] * (count - len(fields))


class Driver:
    """One nvrdrive.exe under Wine. Every call waits at most `reply_timeout` seconds beyond the
    command's own time-out for the answer; use as a context manager or call close()."""

    def __init__(self, log_path=None, reply_timeout=15.0):
        self.reply_timeout = reply_timeout
        exe = os.path.join(env.bin_dir(), "nvrdrive.exe")
        if not os.path.isfile(exe):
            raise env.TestEnvError(f"{exe} is missing: build the target nvrdrive")
        self._log = open(log_path or os.devnull, "wb")
        self._proc = subprocess.Popen(["wine", exe], stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE, stderr=self._log,
                                      env=env.wine_env(), start_new_session=True)
        self._lines = queue.Queue()
        self._broken = False
        self._reader = threading.Thread(target=self._read_replies, daemon=True)
        self._reader.start()
        try:
            self.request("ping", timeout=60.0)
        except BaseException:
            self.close()
            raise

    def _read_replies(self):
        for raw in self._proc.stdout:
            self._lines.put(raw.decode("utf-8", errors="replace").rstrip("\r\n"))
        self._lines.put(None)

    def _next_line(self, deadline_s, request):
        try:
            line = self._lines.get(timeout=deadline_s)
        except queue.Empty:
            # A late answer would be taken for the next request's: refuse further requests.
            self._broken = True
            raise DriverTimeout(f"no answer from nvrdrive to {request!r}") from None
        if line is None:
            raise DriverError(f"nvrdrive ended while answering {request!r}")
        return line

    def _exchange(self, line, timeout):
        if self._broken:
            raise DriverError(f"nvrdrive is out of step since an unanswered request: {line!r}")
        if self._proc.poll() is not None:
            raise DriverError(f"nvrdrive has ended (exit code {self._proc.returncode})")
        self._proc.stdin.write(line.encode("utf-8") + b"\n")
        self._proc.stdin.flush()
        wait_s = self.reply_timeout + (timeout or 0.0)
        items = []
        while True:
            reply = self._next_line(wait_s, line)
            if reply.startswith("item "):
                items.append(reply[5:])
                continue
            if reply == "ok" or reply.startswith("ok "):
                return reply[3:], items
            if reply.startswith("err "):
                message = reply[4:]
                kind = DriverTimeout if message.startswith("timeout") else DriverError
                raise kind(f"{line!r}: {message}")
            raise DriverError(f"unexpected line from nvrdrive: {reply!r}")

    def request(self, line, timeout=None):
        """Sends one raw request line; returns the text after `ok `. `timeout` (seconds) is the
        command's own wait, added to the reply time limit."""
        return self._exchange(line, timeout)[0]

    def request_items(self, line, timeout=None):
        """Sends a listing request; returns its `item` lines (without `item `)."""
        return self._exchange(line, timeout)[1]

    # Windows ---------------------------------------------------------------------------------

    def windows(self, pid=0):
        return [Window(h, int(p), unescape(c), v == "1", unescape(t))
                for h, p, c, v, t in (_split(i, 5) for i in self.request_items(f"windows {pid}"))]

    def child(self, hwnd, control_id):
        return self.request(f"child {hwnd} {control_id}")

    def children(self, hwnd):
        result = []
        for item in self.request_items(f"children {hwnd}"):
            h, i, c, s, e, v, x, y, w, ht, t = _split(item, 11)
            result.append(Child(h, int(i), unescape(c), int(s, 16), e == "1", v == "1", int(x),
                                int(y), int(w), int(ht), unescape(t)))
        return result

    def pid(self, hwnd):
        return int(self.request(f"pid {hwnd}"))

    def rect(self, hwnd):
        return Rect(*map(int, self.request(f"rect {hwnd}").split()))

    def client(self, hwnd):
        return Client(*map(int, self.request(f"client {hwnd}").split()))

    def move(self, hwnd, x, y, w=None, h=None):
        size = "" if w is None else f" {w} {h}"
        self.request(f"move {hwnd} {x} {y}{size}")

    def click(self, hwnd):
        self.request(f"click {hwnd}")

    def command(self, hwnd, command_id):
        self.request(f"command {hwnd} {command_id}")

    def close_window(self, hwnd):
        self.request(f"close {hwnd}")

    def text(self, hwnd):
        return unescape(self.request(f"gettext {hwnd}"))

    def set_text(self, hwnd, text):
        self.request(f"settext {hwnd} {escape(text)}")

    def enabled(self, hwnd):
        return self.request(f"enabled {hwnd}") == "1"

    def checked(self, hwnd):
        return int(self.request(f"checked {hwnd}"))

    def wait_gone(self, hwnd, timeout):
        self.request(f"wait-gone {hwnd} {_ms(timeout)}", timeout)

    # Dialogs ---------------------------------------------------------------------------------

    def dialogs(self, pid):
        """The visible #32770 windows of the process: message boxes, the Save dialog."""
        result = []
        for item in self.request_items(f"dialogs {pid}"):
            h, b, c, t = _split(item, 4)
            buttons = [] if b == "-" else [int(i) for i in b.split(",")]
            result.append(Dialog(h, buttons, unescape(c), unescape(t)))
        return result

    def wait_dialog(self, pid, timeout, caption=None):
        line = f"wait-dialog {pid} {_ms(timeout)}"
        return self.request(line + ("" if caption is None else " " + escape(caption)), timeout)

    def wait_new_dialog(self, pid, known, timeout):
        """The first dialog of the process that is not among the handles `known` (such as the
        overwrite prompt over a Save dialog, which has the same caption), waiting `timeout` s."""
        deadline = time.monotonic() + timeout
        while True:
            fresh = [d for d in self.dialogs(pid) if d.hwnd not in known]
            if fresh:
                return fresh[0]
            if time.monotonic() > deadline:
                raise DriverTimeout(f"no new dialog of process {pid} within {timeout} s")
            time.sleep(0.05)

    def press(self, dialog, button_id):
        self.request(f"press {dialog} {button_id}")

    def save_dialog(self, pid, timeout):
        return self.request(f"savedialog {pid} {_ms(timeout)}", timeout)

    def save_dialog_choose(self, dialog, windows_path):
        self.request(f"savedialog-choose {dialog} {escape(windows_path)}")

    def save_dialog_cancel(self, dialog):
        self.request(f"savedialog-cancel {dialog}")

    # Processes -------------------------------------------------------------------------------

    def hold_file(self, windows_path):
        """Holds the file open without sharing deletion, as a spreadsheet does."""
        self.request(f"hold-file {escape(windows_path)}")

    def release_files(self):
        self.request("release-files")

    def processes(self):
        return [Process(int(p), int(pp), unescape(e))
                for p, pp, e in (_split(i, 3) for i in self.request_items("ps"))]

    def watch(self, pid):
        """Keeps the process's handle in the driver, so wait_exit gives its exit code also after
        it has ended."""
        self.request(f"watch {pid}")

    def wait_exit(self, pid, timeout):
        """The exit code of a Windows process of the prefix, waiting `timeout` s for its end."""
        return int(self.request(f"wait-exit {pid} {_ms(timeout)}", timeout))

    def terminate(self, pid, timeout=5.0, alone=False):
        """Ends the process and the descendants it started (not Wine's own services); with
        `alone`, the process only, as a crash would."""
        line = f"terminate {pid} {_ms(timeout)}" + (" alone" if alone else "")
        return int(self.request(line, timeout))

    def resources(self, pid):
        """(handles, GDI objects, private bytes) the process holds; under Wine the last reads
        0."""
        return tuple(int(v) for v in self.request(f"resources {pid}").split())

    # Lifetime --------------------------------------------------------------------------------

    def close(self):
        """Ends the driver: `quit`, then a kill if it does not end within 5 s."""
        try:
            if self._proc.poll() is None:
                self._proc.stdin.write(b"quit\n")
                self._proc.stdin.flush()
            self._proc.stdin.close()
        except OSError:
            pass
        try:
            self._proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self._proc.kill()
            self._proc.wait(timeout=5)
        self._reader.join(timeout=5)
        self._proc.stdout.close()
        self._log.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def poll_until(condition, timeout, interval=0.1):
    """Calls `condition()` until it gives a true value, which is returned; None after `timeout`
    seconds. Clicks, commands and closes are posted: their effects have to be waited for."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value or None
        time.sleep(interval)


def _ms(seconds):
    return max(0, int(round(seconds * 1000)))
