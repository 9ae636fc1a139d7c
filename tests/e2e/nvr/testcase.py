"""A unittest base for the end-to-end tests: one driver per test, stages and recorders that are
always cleaned up, even when the test fails."""

import time
import unittest

from .driver import Driver, poll_until
from .recorder import Recorder
from .stage import Stage


class RecorderTestCase(unittest.TestCase):
    """Gives each test `self.driver` and the helpers below; prints each test's duration."""

    def setUp(self):
        self._started = time.monotonic()
        self._stage_count = 0
        self.driver = Driver(log_path=None)
        self.addCleanup(self.driver.close)
        self.addCleanup(self._report_duration)

    def _report_duration(self):
        print(f"[{self.id()} took {time.monotonic() - self._started:.1f} s]", flush=True)

    def make_stage(self, **options):
        """A fresh stage named after the test (and numbered when a test makes several); the
        options are Stage's."""
        self._stage_count += 1
        return Stage(f"{self.id()}.{self._stage_count}", **options)

    def recorder(self, stage=None, extra_env=None, args=(), **stage_options):
        """A Recorder for `stage` (a fresh default one if None) with the command-line arguments
        `args`, not started yet: use it as a context manager (`with self.recorder(...) as rec:`)
        or call start(). It is killed at the end of the test whatever happens."""
        stage = stage or self.make_stage(**stage_options)
        recorder = Recorder(stage, self.driver, extra_env=extra_env, args=args)
        self.addCleanup(recorder.kill)
        return recorder

    def wait_until(self, condition, timeout, interval=0.1, message="condition"):
        """Polls `condition()` until it is true and returns its value; fails the test after
        `timeout` s."""
        value = poll_until(condition, timeout, interval)
        if value is None:
            self.fail(f"{message} not reached within {timeout} s")
        return value
