#!/usr/bin/env python3
"""Writes the test form's logo: a 24x16, 8-bit bottom-up BMP with a 256-entry
palette. Rows 0-7 (top) are red, rows 8-15 blue; column 0 is green."""
import struct
import sys

W, H = 24, 16
palette = [(0, 0, 0)] * 256
palette[1] = (255, 0, 0)   # red   (r, g, b)
palette[2] = (0, 0, 255)   # blue
palette[3] = (0, 255, 0)   # green
table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
stride = (W + 3) // 4 * 4
rows = []
for y in range(H):          # top row first, stored bottom-up below
    row = bytes([3] + [1 if y < 8 else 2] * (W - 1))
    rows.append(row + b"\0" * (stride - W))
pixels = b"".join(reversed(rows))
offset = 14 + 40 + len(table)
info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 8, 0, len(pixels), 2835, 2835, 0, 0)
head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
open(sys.argv[1], "wb").write(head + info + table + pixels)
