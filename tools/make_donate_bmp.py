#!/usr/bin/env python3
"""Draws the About window's 80 x 32 "Donate" button label as a BMP file.

The picture is a BMP file (version-5 info header, 32 bits per pixel, bit fields with red in the
most significant byte, then green, blue and alpha), 10,378 bytes with the pixels at offset 138,
rows stored bottom-up. The label is drawn here with a tiny built-in pixel font, so the picture
can be regenerated and changed without any image editor:

    tools/make_donate_bmp.py --bmp assets/donate.bmp

The build turns assets/donate.bmp into the program's embedded copy (cmake/embed_file.cmake).
"""

import struct
import sys

WIDTH, HEIGHT = 80, 32

# 5 x 7 glyphs, one string per row, "#" = ink.
GLYPHS = {
    "D": ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    "o": [".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."],
    "n": [".....", ".....", "####.", "#...#", "#...#", "#...#", "#...#"],
    "a": [".....", ".....", ".###.", "....#", ".####", "#...#", ".####"],
    "t": [".#...", ".#...", "####.", ".#...", ".#...", ".#..#", "..##."],
    "e": [".....", ".....", ".###.", "#...#", "#####", "#....", ".###."],
}

BORDER = (0x8A, 0x5A, 0x00)  # dark amber outline
FACE_TOP = (0xFF, 0xD8, 0x5A)  # light gold at the top ...
FACE_BOTTOM = (0xF2, 0xA9, 0x1C)  # ... shading to orange at the bottom
INK = (0x1C, 0x2E, 0x6B)  # dark blue lettering
SHADOW = (0xFF, 0xF0, 0xB8)  # light edge under the letters
BACKGROUND = (0xF0, 0xF0, 0xF0)  # the button-face grey around the rounded corners


def draw():
    """Returns rows top first, each a list of (r, g, b)."""
    pixels = [[BACKGROUND] * WIDTH for _ in range(HEIGHT)]
    radius = 6
    for y in range(HEIGHT):
        t = y / (HEIGHT - 1)
        face = tuple(round(a + (b - a) * t) for a, b in zip(FACE_TOP, FACE_BOTTOM))
        for x in range(WIDTH):
            # Distance test against the rounded corners.
            cx = min(max(x, radius), WIDTH - 1 - radius)
            cy = min(max(y, radius), HEIGHT - 1 - radius)
            d2 = (x - cx) ** 2 + (y - cy) ** 2
            if d2 > radius * radius:
                continue
            inner = radius - 1
            pixels[y][x] = BORDER if d2 > inner * inner or x in (0, WIDTH - 1) or y in (
                0, HEIGHT - 1) else face
    text = "Donate"
    scale = 2
    advance = 6 * scale
    text_width = len(text) * advance - scale
    x0 = (WIDTH - text_width) // 2
    y0 = (HEIGHT - 7 * scale) // 2
    for colour, dx, dy in ((SHADOW, 1, 1), (INK, 0, 0)):
        for i, ch in enumerate(text):
            glyph = GLYPHS[ch]
            for gy, row in enumerate(glyph):
                for gx, cell in enumerate(row):
                    if cell != "#":
                        continue
                    for sy in range(scale):
                        for sx in range(scale):
                            x = x0 + i * advance + gx * scale + sx + dx
                            y = y0 + gy * scale + sy + dy
                            if 0 <= x < WIDTH and 0 <= y < HEIGHT:
                                pixels[y][x] = colour
    return pixels


def bmp(pixels):
    image_size = WIDTH * HEIGHT * 4
    offset = 14 + 124
    file_header = struct.pack("<2sIHHI", b"BM", offset + image_size, 0, 0, offset)
    info = struct.pack(
        "<IiiHHIIiiII",
        124, WIDTH, HEIGHT, 1, 32, 3, image_size, 2835, 2835, 0, 0)
    info += struct.pack("<IIII", 0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF)
    info += b"BGRs"  # colour space "sRGB" as the little-endian number 0x73524742
    info += bytes(36)  # end points (unused for sRGB)
    info += struct.pack("<III", 0, 0, 0)  # gamma
    info += struct.pack("<IIII", 4, 0, 0, 0)  # intent (images), profile data, size, reserved
    assert len(info) == 124
    data = bytearray(file_header + info)
    for row in reversed(pixels):  # bottom-up
        for r, g, b in row:
            data += struct.pack("<I", (r << 24) | (g << 16) | (b << 8) | 0xFF)
    assert len(data) == 10378
    return bytes(data)


def main():
    if len(sys.argv) != 3 or sys.argv[1] != "--bmp":
        sys.exit("usage: make_donate_bmp.py --bmp FILE")
    with open(sys.argv[2], "wb") as f:
        f.write(bmp(draw()))


if __name__ == "__main__":
    main()
