#!/usr/bin/env python3
"""Draws the control window's banner, "Nimbra_Umbraline VIZ Banner small.bmp": a 24-bit BMP of
300 x 110 pixels (the size the window shows it at) with the program's name on a dark gradient.

Usage: make_banner.py OUTPUT.bmp
"""
import struct
import sys

WIDTH, HEIGHT = 300, 110

# A 5 x 7 pixel font for the letters the banner needs.
FONT = {
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "I": ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "Z": ["11111", "00001", "00010", "00100", "01000", "10000", "11111"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "C": ["01111", "10000", "10000", "10000", "10000", "10000", "01111"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    " ": ["00000"] * 7,
}


def draw_text(pixels, text, left, top, scale, colour):
    for index, letter in enumerate(text):
        glyph = FONT[letter]
        for row, bits in enumerate(glyph):
            for column, bit in enumerate(bits):
                if bit != "1":
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        x = left + (index * 6 + column) * scale + dx
                        y = top + row * scale + dy
                        if 0 <= x < WIDTH and 0 <= y < HEIGHT:
                            pixels[y][x] = colour


def text_width(text, scale):
    return (len(text) * 6 - 1) * scale


def main():
    pixels = [[(0, 0, 0)] * WIDTH for _ in range(HEIGHT)]
    for y in range(HEIGHT):
        for x in range(WIDTH):
            shade = x / (WIDTH - 1)
            pixels[y][x] = (int(20 + 30 * shade), int(30 + 60 * shade), int(70 + 90 * shade))
    # A green stick-figure stripe, the colour of the skeleton overlay.
    for x in range(12, WIDTH - 12):
        for y in (HEIGHT - 14, HEIGHT - 13):
            pixels[y][x] = (0, 220, 0)
    title = "NIMBRA VIZ"
    draw_text(pixels, title, (WIDTH - text_width(title, 4)) // 2, 16, 4, (255, 255, 255))
    subtitle = "RECORDER"
    draw_text(pixels, subtitle, (WIDTH - text_width(subtitle, 3)) // 2, 62, 3, (180, 220, 255))

    row_bytes = (WIDTH * 3 + 3) & ~3
    image = bytearray()
    for y in range(HEIGHT - 1, -1, -1):  # BMP rows run bottom-up
        row = bytearray()
        for r, g, b in pixels[y]:
            row += bytes((b, g, r))
        row += bytes(row_bytes - len(row))
        image += row
    header = struct.pack("<2sIHHI", b"BM", 54 + len(image), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(image), 2835, 2835, 0, 0)
    with open(sys.argv[1], "wb") as out:
        out.write(header + info + image)


if __name__ == "__main__":
    main()
