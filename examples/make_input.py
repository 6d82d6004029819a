#!/usr/bin/env python3
"""Writes input.bmp and input.png, the picture the example graphs read:
128 x 128 pixels, 24-bit. A sky gradient, a sun, hills and a checkered field
give the codec smooth areas, edges and texture to work on.

    python3 make_input.py [FOLDER]
"""
import math
import os
import struct
import sys
import zlib

SIZE = 128


def colour(x, y):
    u, v = x / (SIZE - 1), y / (SIZE - 1)
    # Sky: light blue at the horizon, deeper above.
    r, g, b = 70 + 110 * v, 120 + 100 * v, 200 + 40 * v
    # Sun.
    if (x - 92) ** 2 + (y - 30) ** 2 <= 14 ** 2:
        r, g, b = 250, 220, 90
    # Two hills.
    hill1 = 78 + 14 * math.sin(u * math.pi * 1.4)
    hill2 = 92 + 10 * math.cos(u * math.pi * 2.2 + 0.5)
    if y >= hill1:
        r, g, b = 60 + 40 * u, 120 + 30 * (1 - v), 60
    if y >= hill2:
        r, g, b = 40, 100 + 20 * u, 40
    # A checkered field in front.
    if y >= 108:
        dark = ((x // 8) + (y // 5)) % 2 == 0
        r, g, b = (150, 110, 60) if dark else (190, 150, 90)
    return tuple(max(0, min(255, int(c))) for c in (r, g, b))


def bmp():
    row_bytes = SIZE * 3
    pad = (4 - row_bytes % 4) % 4
    pixels = bytearray()
    for y in range(SIZE - 1, -1, -1):  # bottom row first
        for x in range(SIZE):
            r, g, b = colour(x, y)
            pixels += bytes((b, g, r))
        pixels += b'\0' * pad
    header = struct.pack('<2sIHHI', b'BM', 54 + len(pixels), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + bytes(pixels)


def png():
    rows = bytearray()
    for y in range(SIZE):
        rows.append(0)  # no filter
        for x in range(SIZE):
            rows += bytes(colour(x, y))

    def chunk(tag, data):
        body = tag + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack('>IIBBBBB', SIZE, SIZE, 8, 2, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(bytes(rows), 9)) +
            chunk(b'IEND', b''))


if __name__ == '__main__':
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(folder, 'input.bmp'), 'wb') as f:
        f.write(bmp())
    with open(os.path.join(folder, 'input.png'), 'wb') as f:
        f.write(png())
