#!/usr/bin/env python3
"""The headless demo of scripts/run: starts the program on the virtual display of $NVR_TESTENV,
records a 5-second clip through its buttons and prints where the MP4 and a screenshot are.

Usage: demo.py  (with NVR_TESTENV, NVR_BIN and NVR_SOURCE set, as scripts/run does)
"""
import glob
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "e2e"))

from nvr import env, image, video  # noqa: E402
from nvr.driver import Driver, poll_until  # noqa: E402
from nvr.recorder import ID_PATH_EDIT, ID_START, ID_STOP, IDM_QUIT, Recorder  # noqa: E402
from nvr.stage import Stage  # noqa: E402

SECONDS = 5
NAME = "demo.mp4"


def wait_enabled(driver, hwnd, timeout):
    if poll_until(lambda: driver.enabled(hwnd), timeout) is None:
        sys.exit(f"demo: the button did not become enabled within {timeout} s")


def save_shot_with_skeletons(driver, output, png_path, attempts=10):
    """Saves a screenshot, preferring one that caught the stick figures: they are drawn in the
    passes that fetched a skeleton frame and painted over by the next."""
    client = driver.client(output)
    shot = None
    for _ in range(attempts):
        shot = image.screenshot()
        picture = shot.crop(client.x, client.y, client.w, client.h)
        if picture.count_near((0, 255, 0), 8) > 100:
            break
    shot.save_png(png_path)


def main():
    stage = Stage("demo")
    with Driver() as driver, Recorder(stage, driver,
                                      extra_env={"NVR_SIM_MOTION": "moving",
                                                 "NVR_SIM_TRACKED": "0,1"}) as recorder:
        start, stop = recorder.child(ID_START), recorder.child(ID_STOP)
        driver.set_text(recorder.child(ID_PATH_EDIT), NAME)
        driver.click(start)
        wait_enabled(driver, stop, 15)
        print(f"demo: recording {SECONDS} s into {stage.path(NAME)}", flush=True)
        began = time.monotonic()
        time.sleep(SECONDS / 2)
        shot_path = stage.path("screenshot.png")
        save_shot_with_skeletons(driver, recorder.output, shot_path)
        time.sleep(max(0.0, SECONDS - (time.monotonic() - began)))
        driver.click(stop)
        wait_enabled(driver, start, 30)
        driver.command(recorder.control, IDM_QUIT)
        recorder.wait_exit(15)

    finals = sorted(glob.glob(stage.path(NAME + "_*.mp4")))
    if not finals:
        sys.exit(f"demo: no recording was made; see {stage.dir}")
    info = video.ffprobe_info(finals[-1])
    print(f"demo: recording  {finals[-1]}")
    print(f"      {info}")
    print(f"demo: screenshot {shot_path}")


if __name__ == "__main__":
    main()
