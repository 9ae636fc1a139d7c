"""Screenshots of the virtual display, as images with pixel access (stdlib only)."""

from collections import Counter

from . import env

# The simulated sensor's picture: a 16-bit frame-number code in rows 0..47 (16 blocks 40x48,
# block i shows bit 15-i, white 1), and four coloured quadrants below split at x 320, y 264.
CODE_BLOCKS = 16
CODE_BLOCK_W = 40
CODE_BLOCK_H = 48
QUADRANT_SPLIT = (320, 264)
QUADRANT_COLOURS = {"tl": (200, 40, 40), "tr": (40, 40, 200),
                    "bl": (200, 200, 40), "br": (200, 40, 200)}


class Image:
    """An RGB picture: width, height and rows of bytes, top row first."""

    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, bytes(rgb)

    @classmethod
    def from_ppm(cls, data):
        """Parses a binary 8-bit PPM (P6) as ImageMagick writes it, without comments."""
        width, height = (int(v) for v in data.split(maxsplit=4)[1:3])
        return cls(width, height, data[len(data) - width * height * 3:])

    def pixel(self, x, y):
        """(r, g, b) of the pixel at column x, row y."""
        if not (0 <= x < self.width and 0 <= y < self.height):
            raise IndexError(f"({x}, {y}) lies outside the {self.width}x{self.height} picture")
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def crop(self, x, y, w, h):
        """The part of the picture at (x, y) of size w x h (which must lie inside it)."""
        if x < 0 or y < 0 or w <= 0 or h <= 0 or x + w > self.width or y + h > self.height:
            raise IndexError(f"{w}x{h} at ({x}, {y}) is not inside {self.width}x{self.height}")
        rows = [self.rgb[((y + r) * self.width + x) * 3:((y + r) * self.width + x + w) * 3]
                for r in range(h)]
        return Image(w, h, b"".join(rows))

    def colours(self):
        """{(r, g, b): number of pixels}."""
        return Counter(zip(self.rgb[0::3], self.rgb[1::3], self.rgb[2::3]))

    def count_near(self, colour, tolerance=0):
        """How many pixels lie within `tolerance` of `colour` in each channel."""
        return sum(n for rgb, n in self.colours().items()
                   if all(abs(a - b) <= tolerance for a, b in zip(rgb, colour)))

    def save_png(self, path):
        """Writes a PNG copy (for people looking at a failure) with ImageMagick."""
        ppm = b"P6\n%d %d\n255\n" % (self.width, self.height) + self.rgb
        env.run_checked(["convert", "ppm:-", "png:" + path], 60, input_bytes=ppm)


def screenshot(png_path=None):
    """The whole virtual display now; also saved as a PNG when `png_path` is given."""
    data = env.run_checked(["import", "-window", "root", "-depth", "8", "ppm:-"], timeout=60,
                           env=env.wine_env())
    shot = Image.from_ppm(data)
    if png_path:
        shot.save_png(png_path)
    return shot


def to_client(client, px, py, width=640, height=480):
    """The screen point where the picture point (px, py) lands when a width x height picture is
    stretched over the client area `client` (driver.Client: w, h and screen origin x, y)."""
    return (client.x + (2 * px + 1) * client.w // (2 * width),
            client.y + (2 * py + 1) * client.h // (2 * height))


def read_code(gray_at):
    """The 16-bit frame code of a picture whose brightness at picture point (x, y) is
    gray_at(x, y) (0..255); each block's centre is read, above 127 being a 1."""
    value = 0
    for block in range(CODE_BLOCKS):
        x = block * CODE_BLOCK_W + CODE_BLOCK_W // 2
        value = (value << 1) | (1 if gray_at(x, CODE_BLOCK_H // 2) >= 128 else 0)
    return value


def frame_number_on_screen(shot, client):
    """The frame code shown in the output window's client area of the screenshot."""
    def gray_at(x, y):
        r, g, b = shot.pixel(*to_client(client, x, y))
        return (r + g + b) // 3
    return read_code(gray_at)
