#!/usr/bin/env python3
"""Draws the main window's two pictures as 24-bit BMP files.

package.bmp   71 x 69: a software package, a white box with a compact disc in front of it, on white.
inactive.bmp 155 x 23: a greyed, inactive-looking "Mettre à jour" button, shown while the live one is hidden.

Usage: make_window_pictures.py OUTPUT_FOLDER
"""

import math
import os
import struct
import sys

WHITE = (255, 255, 255)


def write_bmp(path, pixels):
    """pixels: rows top to bottom of (r, g, b); stored bottom-up, rows padded to 4 bytes."""
    height = len(pixels)
    width = len(pixels[0])
    row_size = (width * 3 + 3) // 4 * 4
    data = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += bytes(row_size - len(line))
        data += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as out:
        out.write(header + info + data)


def blank(width, height, colour=WHITE):
    return [[colour for _ in range(width)] for _ in range(height)]


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def fill_polygon(pixels, points, colour):
    """Even-odd fill of a polygon, sampled at pixel centres."""
    height, width = len(pixels), len(pixels[0])
    for y in range(height):
        cy = y + 0.5
        crossings = []
        for (x1, y1), (x2, y2) in zip(points, points[1:] + points[:1]):
            if (y1 <= cy < y2) or (y2 <= cy < y1):
                crossings.append(x1 + (cy - y1) * (x2 - x1) / (y2 - y1))
        crossings.sort()
        for left, right in zip(crossings[0::2], crossings[1::2]):
            for x in range(max(0, math.ceil(left - 0.5)), min(width, math.floor(right - 0.5) + 1)):
                pixels[y][x] = colour


def draw_line(pixels, start, end, colour):
    (x1, y1), (x2, y2) = start, end
    steps = int(max(abs(x2 - x1), abs(y2 - y1))) * 2 + 1
    for i in range(steps + 1):
        t = i / steps
        x, y = round(x1 + (x2 - x1) * t), round(y1 + (y2 - y1) * t)
        if 0 <= y < len(pixels) and 0 <= x < len(pixels[0]):
            pixels[y][x] = colour


def package_picture():
    pixels = blank(71, 69)
    outline = (120, 128, 150)
    # The box, seen from above and to the right: front face, side face, lid.
    front = [(6, 24), (42, 30), (42, 64), (6, 57)]
    side = [(42, 30), (62, 20), (62, 52), (42, 64)]
    lid = [(6, 24), (27, 14), (62, 20), (42, 30)]
    fill_polygon(pixels, front, (246, 247, 251))
    fill_polygon(pixels, side, (218, 223, 235))
    fill_polygon(pixels, lid, (252, 252, 255))
    for face in (front, side, lid):
        for a, b in zip(face, face[1:] + face[:1]):
            draw_line(pixels, a, b, outline)
    # The compact disc in front of the box: silver with a faint rainbow sheen, a hub and a hole.
    cx, cy, radius = 30.5, 47.5, 19.0
    for y in range(69):
        for x in range(71):
            dx, dy = x + 0.5 - cx, y + 0.5 - cy
            distance = math.hypot(dx, dy)
            if distance > radius:
                continue
            if distance > radius - 1.2:
                pixels[y][x] = (140, 146, 165)
            elif distance < 2.5:
                pixels[y][x] = WHITE
            elif distance < 3.6:
                pixels[y][x] = (150, 155, 170)
            elif distance < 7.0:
                pixels[y][x] = (226, 230, 238)
            else:
                angle = math.atan2(dy, dx)
                hue = (math.sin(angle * 2) + 1) / 2
                sheen = mix((200, 214, 240), (240, 222, 200), hue)
                pixels[y][x] = mix(sheen, WHITE, 0.35 * abs(math.cos(angle * 2)))
    return pixels


# A small 5 x 7 font for the inactive button's caption; '#' is ink. "à" carries its grave accent
# in the top rows of an 9-row cell.
GLYPHS = {
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "e": [".....", ".....", ".###.", "#...#", "#####", "#....", ".###."],
    "t": [".#...", ".#...", "###..", ".#...", ".#...", ".#..#", "..##."],
    "r": [".....", ".....", "#.##.", "##..#", "#....", "#....", "#...."],
    "a": [".....", ".....", ".###.", "....#", ".####", "#...#", ".####"],
    "j": ["...#.", ".....", "..##.", "...#.", "...#.", "#..#.", ".##.."],
    "o": [".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."],
    "u": [".....", ".....", "#...#", "#...#", "#...#", "#..##", ".##.#"],
    " ": [".....", ".....", ".....", ".....", ".....", ".....", "....."],
}
GRAVE = [".#...", "..#.."]


def draw_text(pixels, text, top, colour):
    advance = 6
    width = sum(advance if ch != " " else 4 for ch in text) - 1
    x = (len(pixels[0]) - width) // 2
    for ch in text:
        glyph = GLYPHS["a" if ch == "à" else ch]
        for row, line in enumerate(glyph):
            for column, ink in enumerate(line):
                if ink == "#":
                    pixels[top + row][x + column] = colour
        if ch == "à":
            for row, line in enumerate(GRAVE):
                for column, ink in enumerate(line):
                    if ink == "#":
                        pixels[top + row][x + column] = colour
        x += advance if ch != " " else 4


def inactive_button_picture():
    # The live button (154 x 20) lies one pixel right of and below the picture's corner, and the
    # picture reaches two rows below it: the face fills exactly the live button's place, so the
    # margins stay white and nothing of the picture shows while the live button covers it.
    width, height = 155, 23
    pixels = blank(width, height)
    left, top, right, bottom = 1, 1, width - 1, height - 3
    border = (178, 178, 178)
    for y in range(top + 1, bottom - 1):
        t = (y - top - 1) / (bottom - top - 3)
        if t < 0.45:
            colour = mix((246, 246, 246), (232, 232, 232), t / 0.45)
        else:
            colour = mix((214, 214, 214), (232, 232, 232), (t - 0.45) / 0.55)
        for x in range(left + 1, right - 1):
            pixels[y][x] = colour
    for x in range(left + 1, right - 1):
        pixels[top][x] = border
        pixels[bottom - 1][x] = border
    for y in range(top + 1, bottom - 1):
        pixels[y][left] = border
        pixels[y][right - 1] = border
    draw_text(pixels, "Mettre à jour", top + 6, (160, 160, 160))
    return pixels


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    write_bmp(os.path.join(folder, "package.bmp"), package_picture())
    write_bmp(os.path.join(folder, "inactive.bmp"), inactive_button_picture())


if __name__ == "__main__":
    main()
