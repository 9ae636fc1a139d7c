"""The live view in the output window: the sensor's picture stretched over any client size, the
Show Color Feed switch, the green skeletons where the projection puts them, and what the render
loop does with the sensor runtime's colour frames."""

import time
import unittest

from nvr import RecorderTestCase, env, image, projection, skeleton
from nvr.driver import poll_until
from nvr.image import QUADRANT_COLOURS, QUADRANT_SPLIT
from nvr.recorder import ID_SHOW_COLOR, IDM_QUIT, OUTPUT_POS

PICTURE_TIMEOUT = 10.0
SENSOR_FPS = 30
GREEN = (0, 255, 0)
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
# How far a drawn point may lie from where the projection puts it (pen width 2, rasterising).
POINT_SLACK = 2
# An untracked figure's point this close to a tracked figure's segment may be green legitimately.
CLEARANCE = 8
# Shots taken of the overlay: each must show every tracked figure whole.
OVERLAY_SHOTS = 8

# Picture points sampled in each quadrant: its outer edge pixels, its middle, and 8 picture
# pixels from the split lines and from the frame code band (rows 0..47).
SPLIT_X, SPLIT_Y = QUADRANT_SPLIT
LEFT_XS, RIGHT_XS = (0, 160, SPLIT_X - 8), (SPLIT_X + 8, 480, 639)
TOP_YS, BOTTOM_YS = (56, 156, SPLIT_Y - 8), (SPLIT_Y + 8, 372, 479)
QUADRANT_SAMPLES = {"tl": (LEFT_XS, TOP_YS), "tr": (RIGHT_XS, TOP_YS),
                    "bl": (LEFT_XS, BOTTOM_YS), "br": (RIGHT_XS, BOTTOM_YS)}


def green_near(shot, x, y):
    """Whether a pen-green pixel lies within POINT_SLACK pixels of screen point (x, y)."""
    return any(all(abs(a - b) <= 40 for a, b in zip(shot.pixel(xx, yy), GREEN))
               for yy in range(max(0, y - POINT_SLACK), min(shot.height, y + POINT_SLACK + 1))
               for xx in range(max(0, x - POINT_SLACK), min(shot.width, x + POINT_SLACK + 1)))


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


def picture_mismatches(shot, client, figures=False):
    """What of the stretched sensor picture is not where it belongs in the client area:
    sampled quadrant colours, the black and white code band, no window background (white)
    below it and, unless `figures` are drawn over it, no green. Empty when all is well."""
    wrong = []
    for quadrant, (xs, ys) in QUADRANT_SAMPLES.items():
        for px in xs:
            for py in ys:
                colour = shot.pixel(*image.to_client(client, px, py))
                if colour != QUADRANT_COLOURS[quadrant] and not (figures and colour == GREEN):
                    wrong.append(f"picture ({px}, {py}) shows {colour}, not {quadrant}")
    for block in range(image.CODE_BLOCKS):
        px = block * image.CODE_BLOCK_W + image.CODE_BLOCK_W // 2
        if shot.pixel(*image.to_client(client, px, 24)) not in (BLACK, WHITE):
            wrong.append(f"code block {block} is not black or white")
    top = image.to_client(client, 0, 52)[1]
    below = shot.crop(client.x, top, client.w, client.y + client.h - top).colours()
    for colour in (WHITE,) if figures else (WHITE, GREEN):
        if below.get(colour, 0):
            wrong.append(f"{below[colour]} pixels of {colour} below the code band")
    return wrong


class LiveViewTests(RecorderTestCase):

    def wait_for_picture(self, rec, png_name, figures=False):
        """Waits until the output window shows the stretched picture (with `figures`, green
        figures may be over it); fails with what is off. Returns the client area."""
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

    def figures_on_white(self, rec):
        """The client area's pixels while it shows the window colour (white) with green figures
        over it and nothing else; None otherwise."""
        shot, client = rec.client_shot(rec.output)
        area = shot.crop(client.x, client.y, client.w, client.h)
        return area.rgb if set(area.colours()) == {WHITE, GREEN} else None

    def set_feed(self, rec, on):
        """Clicks Show Color Feed and waits until the box shows the wanted state."""
        box = rec.child(ID_SHOW_COLOR)
        self.driver.click(box)
        self.wait_until(lambda: self.driver.checked(box) == int(on), 5.0,
                        message=f"Show Color Feed {'ticked' if on else 'unticked'}")

    def quit_and_check_frames_handed_back(self, rec, stage, at_least=1):
        """File > Quit, exit code 0; at least `at_least` colour frames were handed out, each
        locked, unlocked and released once, and nothing reached the simulated runtime after
        its shutdown. Returns its counts."""
        self.driver.command(rec.control, IDM_QUIT)
        self.assertEqual(rec.wait_exit(10.0), 0)
        counts = {k: int(v) for k, v in env.read_key_values(stage.path("counts.txt")).items()}
        handed = counts["color_handed"]
        self.assertGreaterEqual(handed, at_least, counts)
        self.assertEqual((counts["color_locked"], counts["color_unlocked"],
                          counts["color_released"]), (handed, handed, handed), counts)
        misuse = ("release_invalid", "lock_invalid", "unlock_invalid", "released_locked",
                  "bad_arguments", "calls_after_shutdown", "outstanding")
        self.assertEqual({k: counts[k] for k in misuse if counts[k]}, {}, counts)
        return counts

    def test_picture_fills_the_client_area_at_any_size(self):
        # The 640x480 picture is stretched over the whole client area, independently in width
        # and height: at the default size, smaller, wider and taller than 4:3.
        with self.recorder(None, {"NVR_SIM_TRACKED": "none"}) as rec:
            for size in (None, (400, 300), (860, 420), (480, 700)):
                with self.subTest(size=size):
                    if size:
                        self.driver.move(rec.output, *OUTPUT_POS, *size)
                        self.assertEqual(self.driver.rect(rec.output)[2:], size)
                    self.wait_for_picture(rec, f"picture-{size}.png")

    def test_feed_switch_shows_the_window_colour_and_stops_fetching(self):
        # Unticked, the client area takes the window colour (white in a fresh prefix) with the
        # newest figures moving over it, and no colour frame is fetched; ticked again, the live
        # picture comes back.
        stage = self.make_stage()
        extra = {"NVR_SIM_TRACKED": "0", "NVR_SIM_COUNTS": stage.windows_path("counts.txt")}
        with self.recorder(stage, extra) as rec:
            self.wait_for_picture(rec, "feed-on.png", figures=True)
            self.set_feed(rec, False)
            first = self.wait_until(lambda: self.figures_on_white(rec), PICTURE_TIMEOUT,
                                    message="the window colour with the figures over it")
            time.sleep(0.5)
            later = self.figures_on_white(rec)
            self.assertIsNotNone(later, "the picture came back with the feed off")
            self.assertTrue(later != first, "the figures stand still with the feed off")
            self.set_feed(rec, True)
            client = self.wait_for_picture(rec, "feed-on-again.png", figures=True)
            first = image.frame_number_on_screen(image.screenshot(), client)
            time.sleep(0.5)
            self.assertGreater(image.frame_number_on_screen(image.screenshot(), client), first,
                               "the picture shown again is not live")
            # Off for the rest of the run: the newest colour frame handed out dates from the
            # untick, while skeleton frames, fetched whatever the feed, go on to the end.
            self.set_feed(rec, False)
            time.sleep(2.0)
            counts = self.quit_and_check_frames_handed_back(rec, stage)
        self.assertGreaterEqual(counts["last_skeleton_frame"] - counts["last_color_frame"],
                                SENSOR_FPS, f"colour frames fetched with the feed off: {counts}")

    def test_tracked_skeletons_are_drawn_where_projected(self):
        # Every segment of every tracked record lies where the projection and the scaling to
        # the client area put it; untracked records are not drawn; nothing green without one.
        for tracked, size in (("0,1", None), ("0,1,2,3,4,5", (860, 420)), ("none", None)):
            stage = self.make_stage()
            extra = {"NVR_SIM_TRACKED": tracked, "NVR_SIM_MOTION": "fixed",
                     "NVR_SIM_SKELETON_LOG": stage.windows_path("skeletons.txt")}
            with self.subTest(tracked), self.recorder(stage, extra) as rec:
                if size:
                    self.driver.move(rec.output, *OUTPUT_POS, *size)
                frames = self.wait_until(lambda: skeleton.read_sim_log(stage.path("skeletons.txt")),
                                         PICTURE_TIMEOUT, message="the skeleton log")
                records = [(r["state"] == skeleton.TRACKED, [j[:3] for j in r["joints"]])
                           for r in frames[min(frames)]["records"]]
                self.wait_for_picture(rec, "picture.png", figures=True)
                self.assertEqual(",".join(str(r) for r, (on, _) in enumerate(records) if on)
                                 or "none", tracked)
                self.check_overlay(rec, records)

    def check_overlay(self, rec, records):
        """Every one of several shots shows every tracked figure whole: each bone's ends and
        middle green where the projection puts them. No shot shows green at a point of an
        untracked record away from the tracked ones, nor any green with nobody tracked."""
        client = self.driver.client(rec.output)
        drawn = [(on, projection.skeleton_segments(joints, client.w, client.h))
                 for on, joints in records]
        tracked_segments = [s for on, segments in drawn if on for s in segments]
        expected = {p for s in tracked_segments for p in segment_points(s)}
        forbidden = {p for on, segments in drawn if not on for s in segments
                     for p in segment_points(s)
                     if all(distance_to_segment(p, t) > CLEARANCE for t in tracked_segments)}
        for number in range(OVERLAY_SHOTS):
            shot = image.screenshot()
            self.assertEqual(self.driver.client(rec.output), client)
            green = {p for p in expected | forbidden
                     if green_near(shot, client.x + p[0], client.y + p[1])}
            wrong = sorted(green & forbidden)
            missing = sorted(expected - green)
            if not expected and shot.crop(client.x, client.y, client.w, client.h).count_near(
                    GREEN, 40):
                wrong.append("green with nobody tracked")
            if wrong or missing:
                shot.save_png(rec.stage.path(f"overlay-{number}.png"))
            self.assertEqual(wrong, [], f"shot {number}: untracked records drawn")
            self.assertEqual(missing, [], f"shot {number}: tracked figures not whole")
            time.sleep(0.07)

    def test_frames_at_pitch_zero_are_not_copied_but_handed_back(self):
        # The picture stays the all-black buffer (the class background is white): nothing of
        # the decoy pixels behind Pitch 0 is copied; each frame is still handed back once.
        stage = self.make_stage()
        extra = {"NVR_SIM_PITCH_ZERO": "1", "NVR_SIM_TRACKED": "none",
                 "NVR_SIM_COUNTS": stage.windows_path("counts.txt")}
        with self.recorder(stage, extra) as rec:
            self.wait_until(rec.shows_black, PICTURE_TIMEOUT, message="an all-black picture")
            deadline = time.monotonic() + 2.0
            while time.monotonic() < deadline:
                self.assertTrue(rec.shows_black(), "the decoy pixels behind Pitch 0 were copied")
            self.quit_and_check_frames_handed_back(rec, stage, at_least=SENSOR_FPS)


if __name__ == "__main__":
    unittest.main()
