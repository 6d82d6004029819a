#!/usr/bin/env python3
"""Draws the program icon, vorlan.png: a node-blue tile cut by a
horizontal-vertical partition, with an input and an output pin.

    python3 make_icon.py [SIZE] [OUT.png]
"""
import os
import struct
import sys
import zlib

BLUE = (22, 103, 170, 255)
DARK = (10, 40, 70, 255)
WHITE = (255, 255, 255, 255)
GREEN = (0, 200, 0, 255)
CLEAR = (0, 0, 0, 0)

# Partition lines in unit coordinates of the tile: (x0, y0, x1, y1).
CUTS = [
    (0.56, 0.0, 0.56, 1.0),
    (0.0, 0.42, 0.56, 0.42),
    (0.56, 0.68, 1.0, 0.68),
    (0.28, 0.42, 0.28, 1.0),
    (0.78, 0.0, 0.78, 0.68),
    (0.0, 0.72, 0.28, 0.72),
    (0.56, 0.30, 0.78, 0.30),
]


def pixel(x, y, n):
    u, v = (x + 0.5) / n, (y + 0.5) / n
    margin, radius = 0.12, 0.10
    pin = 0.08
    # Pins: a square on the left edge (input) and one on the right (output).
    if abs(v - 0.5) <= pin / 2 and (margin - pin <= u < margin or 1 - margin < u <= 1 - margin + pin):
        return GREEN
    lo, hi = margin, 1 - margin
    if not (lo <= u <= hi and lo <= v <= hi):
        return CLEAR
    cx = min(max(u, lo + radius), hi - radius)
    cy = min(max(v, lo + radius), hi - radius)
    d = ((u - cx) ** 2 + (v - cy) ** 2) ** 0.5
    if d > radius:
        return CLEAR
    border = 0.025
    if d > radius - border or min(u - lo, hi - u, v - lo, hi - v) < border:
        return DARK
    tu, tv = (u - lo) / (hi - lo), (v - lo) / (hi - lo)
    w = 0.018
    for x0, y0, x1, y1 in CUTS:
        if x0 == x1 and abs(tu - x0) < w and min(y0, y1) <= tv <= max(y0, y1):
            return WHITE
        if y0 == y1 and abs(tv - y0) < w and min(x0, x1) <= tu <= max(x0, x1):
            return WHITE
    return BLUE


def png(n):
    rows = bytearray()
    for y in range(n):
        rows.append(0)
        for x in range(n):
            rows += bytes(pixel(x, y, n))

    def chunk(tag, data):
        body = tag + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack('>IIBBBBB', n, n, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(bytes(rows), 9)) +
            chunk(b'IEND', b''))


if __name__ == '__main__':
    size = int(sys.argv[1]) if len(sys.argv) > 1 else 256
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(os.path.abspath(__file__)), 'vorlan.png')
    with open(out, 'wb') as f:
        f.write(png(size))
