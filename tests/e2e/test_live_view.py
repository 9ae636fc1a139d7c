"""The live view in the output window: the sensor's picture stretched over any client size, the
Show Color Feed switch, the green skeletons where the projection puts them, and what the render
loop does with the sensor runtime's colour frames."""

import os
import time
import unittest

from nvr import RecorderTestCase, env, image, projection, skeleton
from nvr.driver import poll_until
from nvr.image import QUADRANT_COLOURS, QUADRANT_SPLIT
from nvr.recorder import ID_SHOW_COLOR, IDM_QUIT, OUTPUT_POS

PICTURE_TIMEOUT = 10.0
EXIT_TIMEOUT = 10.0
SENSOR_FPS = 30

GREEN = (0, 255, 0)
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
# How far a drawn point may lie from where the replica puts it (pen width 2, line rasterising).
POINT_SLACK = 2
# An untracked figure's point this close to a tracked figure's segment may be green legitimately.
CLEARANCE = 8
# Shots showing the overlay needed (about half of them do), and shots at most.
# Shots taken of the overlay: each must show every tracked figure whole.
OVERLAY_SHOTS = 8

# Picture points sampled in each quadrant: its outer edge pixels, its middle, and 8 picture
# pixels from the split lines and from the frame code band (rows 0..47).
SPLIT_X, SPLIT_Y = QUADRANT_SPLIT
LEFT_XS, RIGHT_XS = (0, 160, SPLIT_X - 8), (SPLIT_X + 8, 480, 639)
TOP_YS, BOTTOM_YS = (56, 156, SPLIT_Y - 8), (SPLIT_Y + 8, 372, 479)
QUADRANT_SAMPLES = {"tl": (LEFT_XS, TOP_YS), "tr": (RIGHT_XS, TOP_YS),
                    "bl": (LEFT_XS, BOTTOM_YS), "br": (RIGHT_XS, BOTTOM_YS)}
CODE_BAND_ROW = 24
BELOW_CODE_BAND = 52


def near(colour, expected, tolerance=40):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


def green_near(shot, x, y, slack=POINT_SLACK):
    """Whether a pen-green pixel lies within `slack` pixels of screen point (x, y)."""
    for yy in range(max(0, y - slack), min(shot.height, y + slack + 1)):
        for xx in range(max(0, x - slack), min(shot.width, x + slack + 1)):
            if near(shot.pixel(xx, yy), GREEN):
                return True
    return False


def distance_to_segment(point, segment):
    (px, py), ((x1, y1), (x2, y2)) = point, segment
    dx, dy = x2 - x1, y2 - y1
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - x1) * dx + (py - y1) * dy) / length2))
    return ((px - x1 - t * dx) ** 2 + (py - y1 - t * dy) ** 2) ** 0.5


def segment_points(segment):
    """The two ends and the middle of a drawn segment, in client coordinates."""
    (x1, y1), (x2, y2) = segment
    return [(x1, y1), ((x1 + x2) // 2, (y1 + y2) // 2), (x2, y2)]


def first_logged_skeletons(path):
    """The six records of the first skeleton frame the simulated runtime handed out:
    [(tracked, [20 (x, y, z)])], or None before it has handed one out."""
    frames = skeleton.read_sim_log(path)
    if not frames:
        return None
    return [(record["state"] == skeleton.TRACKED, [joint[:3] for joint in record["joints"]])
            for record in frames[min(frames)]["records"]]


def picture_mismatches(shot, client, figures=False):
    """What of the stretched sensor picture is not where it belongs in the client area:
    sampled quadrant colours, the grey code band, no window background (white) below it
    and, unless `figures` are drawn over it, no green. Empty when the picture fills the client
    area as expected."""
    wrong = []
    for quadrant, (xs, ys) in QUADRANT_SAMPLES.items():
        for px in xs:
            for py in ys:
                colour = shot.pixel(*image.to_client(client, px, py))
                if colour != QUADRANT_COLOURS[quadrant] and not (figures and colour == GREEN):
                    wrong.append(f"picture ({px}, {py}) shows {colour}, "
                                 f"not {quadrant} {QUADRANT_COLOURS[quadrant]}")
    for block in range(image.CODE_BLOCKS):
        px = block * image.CODE_BLOCK_W + image.CODE_BLOCK_W // 2
        colour = shot.pixel(*image.to_client(client, px, CODE_BAND_ROW))
        if colour not in (BLACK, WHITE):
            wrong.append(f"code block {block} shows {colour}")
    top = image.to_client(client, 0, BELOW_CODE_BAND)[1]
    below = shot.crop(client.x, top, client.w, client.y + client.h - top).colours()
    for name, colour in (("white", WHITE),) + ((("green", GREEN),) if not figures else ()):
        count = below.get(colour, 0)
        if count:
            wrong.append(f"{count} {name} pixels below the code band")
    return wrong


class LiveViewTests(RecorderTestCase):

    # Helpers ---------------------------------------------------------------------------------

    def wait_for_picture(self, rec, png_name, figures=False):
        """Waits until the output window shows the stretched picture (with `figures`, green
        figures may be over it); fails with what is off."""
        last = {}

        def matches():
            shot, client = rec.client_shot(rec.output)
            last.update(shot=shot, client=client, wrong=picture_mismatches(shot, client, figures))
            return not last["wrong"]
        if poll_until(matches, PICTURE_TIMEOUT, interval=0.2) is None:
            last["shot"].save_png(rec.stage.path(png_name))
            self.fail(f"picture in client {last['client']} (see {png_name}): "
                      + "; ".join(last["wrong"][:8]))
        return last["client"]

    def client_colours(self, rec):
        shot, client = rec.client_shot(rec.output)
        return shot.crop(client.x, client.y, client.w, client.h).colours(), shot

    def set_feed(self, rec, on):
        """Clicks Show Color Feed and waits until the box shows the wanted state."""
        box = rec.child(ID_SHOW_COLOR)
        self.assertNotEqual(self.driver.checked(box), int(on))
        self.driver.click(box)
        self.wait_until(lambda: self.driver.checked(box) == int(on), 5.0,
                        message=f"Show Color Feed {'ticked' if on else 'unticked'}")

    def quit_and_read_counts(self, rec, stage):
        """File > Quit, exit code 0, and the simulated runtime's counts file."""
        self.driver.command(rec.control, IDM_QUIT)
        self.assertEqual(rec.wait_exit(EXIT_TIMEOUT), 0)
        path = stage.path("counts.txt")
        self.assertTrue(os.path.exists(path), "the simulated runtime wrote no counts")
        return {k: int(v) for k, v in env.read_key_values(path).items()}

    def assert_each_frame_handed_back(self, counts, at_least=1):
        """At least `at_least` colour frames were handed out, each locked, unlocked and
        released exactly once, and nothing reached the runtime after its shutdown."""
        handed = counts["color_handed"]
        self.assertGreaterEqual(handed, at_least, counts)
        self.assertEqual((counts["color_locked"], counts["color_unlocked"],
                          counts["color_released"]), (handed, handed, handed), counts)
        misuse = ("release_invalid", "lock_invalid", "unlock_invalid", "released_locked",
                  "bad_arguments", "calls_after_shutdown", "outstanding")
        self.assertEqual({k: counts[k] for k in misuse if counts[k]}, {}, counts)

    # Tests -----------------------------------------------------------------------------------

    def test_picture_fills_the_client_area_at_any_size(self):
        # The 640x480 picture is stretched over the whole client area, independently in width
        # and height: at the default size, smaller, wider and taller than 4:3.
        with self.recorder(None, {"NVR_SIM_TRACKED": "none"}) as rec:
            for size in (None, (400, 300), (860, 420), (480, 700)):
                with self.subTest(size=size or "default"):
                    if size:
                        self.driver.move(rec.output, *OUTPUT_POS, *size)
                        self.assertEqual(self.driver.rect(rec.output)[2:], size)
                    name = "picture-%s.png" % ("default" if size is None else "x".join(
                        map(str, size)))
                    self.wait_for_picture(rec, name)

    def test_feed_switch_shows_the_window_colour_and_stops_fetching(self):
        # Unticked, the client area takes the window colour and no colour frame is fetched;
        # ticked again, the live picture comes back.
        stage = self.make_stage()
        extra = {"NVR_SIM_TRACKED": "none", "NVR_SIM_COUNTS": stage.windows_path("counts.txt")}
        with self.recorder(stage, extra) as rec:
            self.wait_for_picture(rec, "feed-on.png")
            self.set_feed(rec, False)
            client = self.driver.client(rec.output)
            # The system window colour, COLOR_WINDOW, is white in a fresh prefix. (Read from the
            # control window's bare background it was once black: not painted yet.)
            whole = {WHITE: client.w * client.h}
            self.wait_until(lambda: self.client_colours(rec)[0] == whole, PICTURE_TIMEOUT,
                            message="an output window all in the window colour")
            for _ in range(4):
                colours, shot = self.client_colours(rec)
                if colours != whole:
                    shot.save_png(stage.path("feed-off.png"))
                self.assertEqual(colours, whole, "the picture came back with the feed off")
                time.sleep(0.2)

            self.set_feed(rec, True)
            client = self.wait_for_picture(rec, "feed-on-again.png")
            first = image.frame_number_on_screen(image.screenshot(), client)
            time.sleep(0.5)
            self.assertGreater(image.frame_number_on_screen(image.screenshot(), client), first,
                               "the picture shown again is not live")

            # Off for the rest of the run: the newest colour frame handed out dates from the
            # untick, while skeleton frames, fetched whatever the feed, go on to the end.
            self.set_feed(rec, False)
            off_since = time.monotonic()
            time.sleep(2.0)
            off_seconds = time.monotonic() - off_since
            counts = self.quit_and_read_counts(rec, stage)
        gap = counts["last_skeleton_frame"] - counts["last_color_frame"]
        self.assertGreaterEqual(gap, int(SENSOR_FPS * off_seconds / 2),
                                f"colour frames went on being fetched with the feed off: {counts}")
        self.assert_each_frame_handed_back(counts)

    def test_tracked_skeletons_are_drawn_where_projected(self):
        # Every segment of every tracked record lies where the projection and the scaling to
        # the client area put it; untracked records are not drawn; nothing green without one.
        cases = {
            "records 0 and 1, default size": ("0,1", None),
            "all six, resized": ("0,1,2,3,4,5", (860, 420)),
            "none": ("none", None),
        }
        for case, (tracked, size) in cases.items():
            stage = self.make_stage()
            extra = {"NVR_SIM_TRACKED": tracked, "NVR_SIM_MOTION": "fixed",
                     "NVR_SIM_SKELETON_LOG": stage.windows_path("skeletons.txt")}
            with self.subTest(case), self.recorder(stage, extra) as rec:
                if size:
                    self.driver.move(rec.output, *OUTPUT_POS, *size)
                records = self.wait_until(
                    lambda: first_logged_skeletons(stage.path("skeletons.txt")),
                    PICTURE_TIMEOUT, message="the skeleton log")
                self.wait_for_picture(rec, "picture.png", figures=True)
                wanted = set() if tracked == "none" else {int(r) for r in tracked.split(",")}
                self.assertEqual({r for r, (on, _) in enumerate(records) if on}, wanted)
                self.check_overlay(rec, records)

    def check_overlay(self, rec, records):
        """Every one of several shots shows every tracked figure whole: each bone's ends and
        middle green where the projection puts them. No shot shows green at a point of an
        untracked record away from the tracked ones, nor any green with nobody tracked."""
        client = self.driver.client(rec.output)
        drawn = [projection.skeleton_segments(joints, client.w, client.h)
                 for _, joints in records]
        tracked_segments = [s for (on, _), segments in zip(records, drawn) if on
                            for s in segments]
        expected = {p for (on, _), segments in zip(records, drawn) if on
                    for s in segments for p in segment_points(s)}
        forbidden = {p for (on, _), segments in zip(records, drawn) if not on
                     for s in segments for p in segment_points(s)
                     if all(distance_to_segment(p, t) > CLEARANCE for t in tracked_segments)}
        self.assertTrue(expected or forbidden)
        for number in range(OVERLAY_SHOTS):
            shot = image.screenshot()
            self.assertEqual(self.driver.client(rec.output), client)
            green = {p for p in expected | forbidden
                     if green_near(shot, client.x + p[0], client.y + p[1])}
            wrong = sorted(green & forbidden)
            missing = sorted(expected - green)
            if not expected:
                whole = shot.crop(client.x, client.y, client.w, client.h)
                if whole.count_near(GREEN, 40):
                    wrong.append("green with nobody tracked")
            if wrong or missing:
                shot.save_png(rec.stage.path(f"overlay-{number}.png"))
            self.assertEqual(wrong, [], f"shot {number}: untracked records drawn")
            self.assertEqual(missing, [], f"shot {number}: tracked figures not whole in client "
                                          f"{client}")
            time.sleep(0.07)

    def test_colour_frames_are_handed_back_once_each(self):
        # Each colour frame taken is locked, unlocked and released once; a frame whose Pitch
        # is 0 is not copied (the picture stays black) but is still handed back.
        cases = {"pitch 2560": {}, "pitch 0": {"NVR_SIM_PITCH_ZERO": "1"}}
        for case, sim_env in cases.items():
            stage = self.make_stage()
            extra = dict(sim_env, NVR_SIM_TRACKED="none",
                         NVR_SIM_COUNTS=stage.windows_path("counts.txt"))
            with self.subTest(case), self.recorder(stage, extra) as rec:
                if sim_env:
                    self.assert_stays_black(rec)
                else:
                    self.wait_for_picture(rec, "picture.png")
                    time.sleep(2.0)
                # The run lasts over two seconds at the sensor's 30 frames a second.
                self.assert_each_frame_handed_back(self.quit_and_read_counts(rec, stage),
                                                   at_least=SENSOR_FPS)

    def assert_stays_black(self, rec):
        """The render loop paints the all-black buffer (the class background is white) and
        keeps doing so for a while: nothing of the decoy pixels behind Pitch 0 is copied."""
        client = self.driver.client(rec.output)
        black = {BLACK: client.w * client.h}
        self.wait_until(lambda: self.client_colours(rec)[0] == black, PICTURE_TIMEOUT,
                        message="an all-black output window (nothing copied at Pitch 0)")
        deadline = time.monotonic() + 2.0
        while time.monotonic() < deadline:
            colours, shot = self.client_colours(rec)
            if colours != black:
                shot.save_png(rec.stage.path("not-black.png"))
            self.assertEqual(colours, black)
            time.sleep(0.2)


if __name__ == "__main__":
    unittest.main()
