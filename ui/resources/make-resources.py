#!/usr/bin/env python3
"""Draws the window's pictures and writes them as PNG files beside this script.

  icon128-32.png, icon128-16.png  the program icon (resource 128) at 32 x 32 and 16 x 16
  skin134.png                     the 56 x 15 dialog background tile (resource 134)
  arrow142.png                    the 60 x 20 arrow of the Convert dialog (resource 142)

Every picture uses only colours of the standard 16-colour palette and has no transparent
pixels. Run it again after changing a drawing; it needs nothing beyond Python 3.
"""
import os
import struct
import zlib

BLACK = (0, 0, 0)
WHITE = (255, 255, 255)
GREY = (128, 128, 128)
LIGHT_GREY = (192, 192, 192)
RED = (255, 0, 0)
GREEN = (0, 128, 0)


def write_png(path, pixels):
    height = len(pixels)
    width = len(pixels[0])
    raw = b"".join(b"\x00" + bytes(c for pixel in row for c in pixel) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)  # 8-bit RGB
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", header))
        out.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        out.write(chunk(b"IEND", b""))


def skin():
    # One grey row, two light-grey rows, five times: pin-stripes with a period of three pixels.
    return [[GREY if y % 3 == 0 else LIGHT_GREY] * 56 for y in range(15)]


def arrow():
    rows = []
    for y in range(20):
        # Rows 0 and 19 are black over columns 37 to 50; each row nearer the middle reaches one
        # column further, and the two middle rows reach the right edge.
        distance = y if y < 10 else 19 - y
        last_black = 59 if distance == 9 else 50 + distance
        row = []
        for x in range(60):
            if x < 20:
                row.append(LIGHT_GREY)
            elif x < 37:
                row.append(GREY)
            else:
                row.append(BLACK if x <= last_black else WHITE)
        rows.append(row)
    return rows


def icon(size):
    s = size / 32.0
    p = [[WHITE] * size for _ in range(size)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(max(0, int(y0 * s)), min(size, max(int(y0 * s) + 1, int(y1 * s)))):
            for x in range(max(0, int(x0 * s)), min(size, max(int(x0 * s) + 1, int(x1 * s)))):
                p[y][x] = colour

    # Green bars reaching left and down from the centre square.
    for i, length in enumerate((9, 6, 11)):
        fill(12 - length, 14 + 2 * i, 12, 15 + 2 * i, GREEN)
        fill(14 + 2 * i, 20, 15 + 2 * i, 20 + length, GREEN)
    # Red arrows pointing up and to the right.
    fill(17, 4, 19, 12, RED)            # shaft up
    for k in range(4):                  # head up
        fill(18 - k, 4 + k, 18 + k + 1, 5 + k, RED)
    fill(20, 13, 28, 15, RED)           # shaft right
    for k in range(4):                  # head right
        fill(27 - k, 14 - k, 28 - k, 14 + k + 1, RED)
    # The centre square: black outline, light-grey inside.
    fill(11, 11, 21, 21, BLACK)
    fill(12, 12, 20, 20, LIGHT_GREY)
    # One-pixel black frame around the whole image.
    for i in range(size):
        p[0][i] = p[size - 1][i] = p[i][0] = p[i][size - 1] = BLACK
    return p


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    write_png(os.path.join(here, "skin134.png"), skin())
    write_png(os.path.join(here, "arrow142.png"), arrow())
    write_png(os.path.join(here, "icon128-32.png"), icon(32))
    write_png(os.path.join(here, "icon128-16.png"), icon(16))


if __name__ == "__main__":
    main()
