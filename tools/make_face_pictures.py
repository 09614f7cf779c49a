#!/usr/bin/env python3
"""Writes the button control's face pictures and its hand pointer.

bouton_bleu.bmp, bouton_bleuoo.bmp, bouton_bleuo.bmp, bouton_orange.bmp   1 x 20: the four face states
bouton_depart.bmp   1 x 20: the middle strip's own starting picture, pixel for pixel the resting face
bouton_gauche.bmp, bouton_droite.bmp   2 x 20: the left and right edges, corners cut by one pixel
bouton_main.cur   32 x 32: the hand pointer, hot spot at the top-left corner

Usage: make_face_pictures.py OUTPUT_FOLDER
"""

import os
import struct
import sys

# One pixel per row, top row first, as RGB hexadecimal. Rows 0 and 19 are the border, rows 1 and 18
# the inner highlight, rows 2 to 8 the pale upper half, rows 9 to 17 the deeper lower half.
FACE_TABLE = """
    row    Bleu       BleuOO     Bleuo      Orange
    0      527BCB     527BCB     527BCB     527BCB
    1      FFFFFF     FFFEFE     FFFFFF     FFFEFE
    2      DCEAF0     F7F4E7     EDF1EE     FFF5D5
    3      D8E7F0     F4EFDC     E3EAE8     FFF2D5
    4      D5E5F0     F3EDDC     E1E8E8     FFF0D4
    5      D1E2EF     F1EADB     DEE5E7     FEEDD3
    6      CEDFEF     F1E9DB     DDE4E6     FDEAD1
    7      CBDDEE     EFE6DA     DBE1E6     FCE8D0
    8      C8DBEE     EEE4D9     D9DFE6     FBE6CF
    9      92B2DD     C9AB96     A4ABBE     DFA872
    10     92B1DF     CAAD9B     A6ADC1     E1AB7D
    11     98B6E4     CDB1A1     AAB0C6     E3AF86
    12     9EBBE7     D0B6A6     AFB5C9     E5B48D
    13     A5C1EA     D2B9A9     B2B9CB     E8B993
    14     AAC6EC     D6BEAD     B7BECE     EABE97
    15     B1CCEE     D9C4B1     BDC4D1     ECC39B
    16     B9D3F1     DCC9B6     C1C9D4     EEC9A1
    17     B9D4F1     E7DBCD     D5DBE1     F1D0A9
    18     FFFFFF     FFFEFE     FFFFFF     FFFEFE
    19     527BCB     527BCB     527BCB     527BCB
"""
FACE_FILES = ["bouton_bleu.bmp", "bouton_bleuoo.bmp", "bouton_bleuo.bmp", "bouton_orange.bmp"]

# The left edge, column 0 then column 1, by rows; the right edge is its mirror image.
EDGE_PALE, EDGE_BORDER, EDGE_WHITE = "D6E2F4", "527BCB", "FFFFFF"
LEFT_EDGE_ROWS = [(EDGE_PALE, EDGE_PALE), (EDGE_PALE, EDGE_BORDER)] + [(EDGE_BORDER, EDGE_WHITE)] * 16 + [
    (EDGE_PALE, EDGE_BORDER),
    (EDGE_PALE, EDGE_PALE),
]

# The hand pointer: X black outline, o white, anything else transparent. 17 x 22 pixels in the
# top-left corner of the 32 x 32 cursor, the fingertip at columns 5 and 6 of the top row.
HAND = """
.....XX..........
....XooX.........
....XooX.........
....XooX.........
....XooX.........
....XooXXX.......
....XooXooXXX....
....XooXooXooXX..
.XX.XooXooXooXoX.
XooXXooooooooXooX
XoooXoooooooooooX
.XooXoooooooooooX
..XoXoooooooooooX
..XooooooooooooX.
...XoooooooooooX.
...XooooooooooX..
....XoooooooooX..
....XooooooooX...
.....XoooooooX...
.....XoooooooX...
.....XoooooooX...
.....XXXXXXXXX...
"""
CURSOR_SIZE = 32
HAND_WIDTH, HAND_HEIGHT = 17, 22


def rgb(text):
    value = int(text, 16)
    return (value >> 16 & 0xFF, value >> 8 & 0xFF, value & 0xFF)


def pixel_rows_24(pixels):
    """pixels: rows top to bottom of (r, g, b); returns them bottom-up as BGR, each row padded to 4 bytes."""
    row_size = (len(pixels[0]) * 3 + 3) // 4 * 4
    data = bytearray()
    for row in reversed(pixels):
        line = b"".join(bytes((b, g, r)) for r, g, b in row)
        data += line + bytes(row_size - len(line))
    return bytes(data)


def info_header(width, height, data_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, data_size, 0, 0, 0, 0)


def write_bmp(path, pixels):
    data = pixel_rows_24(pixels)
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 14 + 40)
    with open(path, "wb") as out:
        out.write(header + info_header(len(pixels[0]), len(pixels), len(data)) + data)


def face_columns():
    rows = [line.split() for line in FACE_TABLE.strip().splitlines()[1:]]
    assert [int(row[0]) for row in rows] == list(range(20)), "face table must list rows 0 to 19"
    return [[[rgb(row[1 + column])] for row in rows] for column in range(4)]


def hand_rows():
    rows = HAND.strip().splitlines()
    assert len(rows) == HAND_HEIGHT and all(len(row) == HAND_WIDTH for row in rows), "hand must be 17 x 22"
    return [row.ljust(CURSOR_SIZE, ".") for row in rows] + ["." * CURSOR_SIZE] * (CURSOR_SIZE - HAND_HEIGHT)


def write_cursor(path, hot_spot=(0, 0)):
    rows = hand_rows()
    colour = [[(0, 0, 0) if c == "X" else (255, 255, 255) if c == "o" else (0, 0, 0) for c in row] for row in rows]
    # The mask is 1 where the screen shows through; rows bottom-up, each 32 bits.
    mask = bytearray()
    for row in reversed(rows):
        bits = 0
        for c in row:
            bits = bits << 1 | (0 if c in "Xo" else 1)
        mask += struct.pack(">I", bits)
    xor = pixel_rows_24(colour)
    image = info_header(CURSOR_SIZE, 2 * CURSOR_SIZE, 0) + xor + bytes(mask)
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", CURSOR_SIZE, CURSOR_SIZE, 0, 0, hot_spot[0], hot_spot[1], len(image), 6 + 16)
    with open(path, "wb") as out:
        out.write(directory + entry + image)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    columns = face_columns()
    for name, pixels in zip(FACE_FILES, columns):
        write_bmp(os.path.join(folder, name), pixels)
    write_bmp(os.path.join(folder, "bouton_depart.bmp"), columns[0])
    left = [[rgb(a), rgb(b)] for a, b in LEFT_EDGE_ROWS]
    write_bmp(os.path.join(folder, "bouton_gauche.bmp"), left)
    write_bmp(os.path.join(folder, "bouton_droite.bmp"), [list(reversed(row)) for row in left])
    write_cursor(os.path.join(folder, "bouton_main.cur"))


if __name__ == "__main__":
    main()
