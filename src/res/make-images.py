#!/usr/bin/env python3
"""Writes the dialog logo (logo.bmp) and the program icon (update.ico).

The logo is a 48 x 49 picture with 8 bits per pixel and a 256-colour palette:
a navy ring with a quill stroke on white. The icon is one 32 x 32 image with
16 colours. Run it again after changing the drawing; the outputs are committed.
"""
import math
import os
import struct
import sys


def logo_pixels(width, height):
    # Palette: 0 white, 1..200 a blend from white to navy, 255 gold.
    palette = []
    for i in range(256):
        if i == 255:
            palette.append((0x20, 0xA0, 0xE0))  # BGR: gold
            continue
        t = min(i, 200) / 200.0
        r = round(255 * (1 - t))
        g = round(255 * (1 - t))
        b = round(255 * (1 - t) + 128 * t)
        palette.append((b, g, r))
    cx, cy = width / 2 - 0.5, height / 2 - 0.5
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            d = math.hypot(x - cx, y - cy)
            value = 0
            if 15 <= d <= 21:                       # the ring, soft at its edges
                value = int(200 * (1 - abs(d - 18) / 3.5))
            if x > cx + 4 and y > cy + 4 and abs((x - cx) - (y - cy)) < 2.2 and d < 26:
                value = 200                         # the tail of the Q
            if abs((x - cx) + 0.5 * (y - cy) - 2) < 1.3 and -11 < y - cy < 10:
                value = 255                         # the quill stroke
            row.append(max(0, min(255, value)))
        rows.append(row)
    return palette, rows


def write_logo(path):
    width, height = 48, 49
    palette, rows = logo_pixels(width, height)
    stride = (width + 3) & ~3
    pixels = b"".join(bytes(rows[y]) + b"\0" * (stride - width) for y in reversed(range(height)))
    offset = 14 + 40 + 256 * 4
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(pixels), 3780, 3780, 256, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (b, g, r) in palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    data = header + info + table + pixels
    assert len(data) == 3430 and offset == 1078
    with open(path, "wb") as f:
        f.write(data)


def write_icon(path):
    size = 32
    # The 16 standard colours (BGR).
    colours = [(0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128),
               (128, 128, 0), (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0),
               (0, 255, 255), (255, 0, 0), (255, 0, 255), (255, 255, 0), (255, 255, 255)]
    navy, white, yellow, grey = 4, 15, 11, 8
    c = size / 2 - 0.5
    grid = []
    for y in range(size):
        row = []
        for x in range(size):
            d = math.hypot(x - c, y - c)
            value = white if d < 15 else None      # None: transparent
            if 10 <= d < 15:
                value = navy
            if x > c + 3 and y > c + 3 and abs(x - y) < 2 and d < 16:
                value = navy
            if abs((x - c) + 0.5 * (y - c)) < 1.2 and -8 < y - c < 7:
                value = yellow
            if value == white and d > 14:
                value = grey
            row.append(value)
        grid.append(row)
    xor = b""
    mask = b""
    for y in reversed(range(size)):
        row = grid[y]
        for x in range(0, size, 2):
            a = row[x] if row[x] is not None else 0
            b = row[x + 1] if row[x + 1] is not None else 0
            xor += bytes([(a << 4) | b])
        bits = 0
        for x in range(size):
            bits = (bits << 1) | (1 if row[x] is None else 0)
        mask += struct.pack(">I", bits)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (b, g, r) in colours)
    image = info + table + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 22)
    with open(path, "wb") as f:
        f.write(directory + image)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__)) if len(sys.argv) < 2 else sys.argv[1]
    write_logo(os.path.join(here, "logo.bmp"))
    write_icon(os.path.join(here, "update.ico"))
