"""Writes a 512 x 512 24-bit BMP with smooth shapes and edges, a stand-in
for a photograph when no test image is at hand."""
import math
import struct
import sys

W = H = 512
stride = (W * 3 + 3) & ~3
rows = []
for y in range(H - 1, -1, -1):  # bottom-up
    row = bytearray()
    for x in range(W):
        v = 128 + 60 * math.sin(x / 23.0) * math.cos(y / 31.0)
        if (x - 300) ** 2 + (y - 200) ** 2 < 90 ** 2:
            v = 220 - (x - 300) * 0.3
        if 60 < x < 200 and 300 < y < 460:
            v = 40 + ((x + y) % 40)
        g = max(0, min(255, int(v)))
        row += bytes((g, g, g))
    row += b'\0' * (stride - W * 3)
    rows.append(bytes(row))
pixels = b''.join(rows)
header = b'BM' + struct.pack('<IHHI', 54 + len(pixels), 0, 0, 54)
info = struct.pack('<IiiHHIIiiII', 40, W, H, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
with open(sys.argv[1], 'wb') as f:
    f.write(header + info + pixels)
