"""Checks of the library's own arithmetic and parsers that need no Wine:
python3 -m unittest nvr.test_library (from tests/e2e)."""

import os
import subprocess
import tempfile
import unittest

from nvr import env, image, projection, skeleton, video


def code_frame_bgra(number):
    """A 640x480 BGRA frame like the simulated sensor's: the 16-bit code, grey below."""
    rows = []
    for y in range(480):
        row = bytearray()
        for block in range(16):
            bit = (number >> (15 - block)) & 1
            value = (255 if bit else 0) if y < 48 else 128
            row += bytes((value, value, value, 255)) * 40
        rows.append(bytes(row))
    return b"".join(rows)


class ProjectionTests(unittest.TestCase):

    def test_worked_examples(self):
        # joint -> picture point and the drawn point in clients 640x480, 1280x960, 644x481
        examples = [
            ((0, 0, 2), (320, 240), [(320, 240), (640, 480), (322, 240)]),
            ((0.5, 0.25, 2), (463, 169), [(463, 169), (926, 338), (465, 169)]),
            ((1, 0, 2), (606, 240), [(606, 240), (1212, 480), (609, 240)]),
            ((-1.2, -0.9, 1.5), (-136, 583), [(-136, 583), (-272, 1166), (-136, 584)]),
            ((1, 1, 0), (0, 0), [(0, 0)] * 3),
            ((1, 1, 1.1920929e-7), (0, 0), [(0, 0)] * 3),
            ((1, 1, float("nan")), (0, 0), [(0, 0)] * 3),
        ]
        for joint, point, drawn in examples:
            with self.subTest(joint=joint):
                self.assertEqual(projection.skeleton_to_screen(*joint), point)
                clients = [(640, 480), (1280, 960), (644, 481)]
                self.assertEqual([projection.scale_to_client(*point, w, h) for w, h in clients],
                                 drawn)

    def test_segments_use_the_table_order(self):
        joints = [(0, 0, 0)] * 20
        joints[3] = (0, 0, 2)       # head at the centre, everything else at the origin
        segments = projection.skeleton_segments(joints, 640, 480)
        self.assertEqual(len(segments), 18)
        self.assertEqual(segments[2], ((0, 0), (320, 240)))    # 2 -> 3
        self.assertEqual(segments[3], ((320, 240), (0, 0)))    # 3 -> 4


class PictureTests(unittest.TestCase):

    def test_ppm_of_both_depths_and_comments(self):
        eight = b"P6\n# made by hand\n2 1\n255\n" + bytes((1, 2, 3, 250, 251, 252))
        sixteen = b"P6 2 1 65535\n" + bytes((1, 0, 2, 0, 3, 0, 250, 9, 251, 9, 252, 9))
        for data in (eight, sixteen):
            picture = image.Image.from_ppm(data)
            self.assertEqual((picture.pixel(0, 0), picture.pixel(1, 0)),
                             ((1, 2, 3), (250, 251, 252)))
        with self.assertRaises(IndexError):
            picture.pixel(2, 0)

    def test_frame_code_survives_h264(self):
        # The code is read back from a real libx264 encode and decode, as recordings are.
        numbers = [0, 1, 0x8000, 0xFFFF, 0x1234, 0xA5A5, 54321]
        with tempfile.TemporaryDirectory() as folder:
            mp4 = os.path.join(folder, "code.mp4")
            encode = subprocess.run(
                ["ffmpeg", "-v", "error", "-nostdin", "-f", "rawvideo", "-pixel_format", "bgra",
                 "-video_size", "640x480", "-framerate", "30", "-i", "-", "-c:v", "libx264",
                 "-preset", "ultrafast", "-y", mp4],
                input=b"".join(code_frame_bgra(n) for n in numbers), stderr=subprocess.PIPE,
                timeout=120, check=False)
            self.assertEqual(encode.returncode, 0, encode.stderr)
            self.assertEqual(video.decode_frame_numbers(mp4), numbers)
            info = video.ffprobe_info(mp4)
            self.assertEqual((info["codec"], info["width"], info["height"], info["frames"]),
                             ("h264", 640, 480, len(numbers)))


class SettingsFileTests(unittest.TestCase):

    def test_both_encodings_read_alike(self):
        text = "; comment\n[settings]\nLastPath = \"C:\\rec\\t\u00e4ke.mp4\"\nlastpath=second\n"
        for data in (b"\xff\xfe" + text.encode("utf-16-le"), text.encode("cp1252"),
                     text.encode("utf-8")):
            parsed = env.parse_ini(env.decode_ini_bytes(data))
            self.assertEqual(parsed, {"settings": {"LastPath": "C:\\rec\\t\u00e4ke.mp4"}})



class SkeletonDataTests(unittest.TestCase):

    def test_log_and_csv_values_meet_as_32_bit_floats(self):
        # The runtime's log prints -1.2f as "-1.20000005", the file as "-1.2": the same float.
        joints = " ".join(["-1.20000005 0.5 2 1"] + ["0 0 2 2"] * 19)
        log = "frame 7 233\n" + "".join(f"record {r} {2 * (r == 1)} {r} {joints}\n"
                                          for r in range(6))
        row = ",".join(["3", "0.100000", "8", "266", "7", "233", "1", "1"] +
                       ["-1.2", "0.5", "2", "-171", "169", "1"] + ["0,0,2,320,240,2"] * 19)
        with tempfile.TemporaryDirectory() as folder:
            log_path, csv_path = os.path.join(folder, "log.txt"), os.path.join(folder, "s.csv")
            with open(log_path, "w", newline="") as file:
                file.write(log + "frame 8 266\nrecord 0")    # a frame still being written
            with open(csv_path, "w", newline="") as file:
                file.write("frame,time_s,color_frame,color_time_ms,skeleton_frame,"
                           "skeleton_time_ms,skeleton,tracking_id\r\n" + row + "\r\n")
            frames = skeleton.read_sim_log(log_path)
            rows, _ = skeleton.read_csv(csv_path)
        self.assertEqual(list(frames), [7])
        record = frames[7]["records"][1]
        self.assertEqual((record["state"], record["id"]), (skeleton.TRACKED, 1))
        self.assertEqual(len(rows), 1)
        self.assertEqual((rows[0]["frame"], rows[0]["time_s"]), (3, 0.1))
        self.assertEqual(rows[0]["joints"][0][:3], record["joints"][0][:3])
        self.assertEqual(rows[0]["joints"][0][5], record["joints"][0][3])


if __name__ == "__main__":
    unittest.main()
