"""A small raster plot written as PNG with the standard library only:
axes with ticks and numbers, polylines with markers, a legend. Text uses a
built-in 5 x 7 pixel font (digits, upper-case letters and a few signs)."""
import struct
import zlib

_FONT = {
    '0': '01110 10001 10011 10101 11001 10001 01110', '1': '00100 01100 00100 00100 00100 00100 01110',
    '2': '01110 10001 00001 00010 00100 01000 11111', '3': '11110 00001 00001 01110 00001 00001 11110',
    '4': '00010 00110 01010 10010 11111 00010 00010', '5': '11111 10000 11110 00001 00001 10001 01110',
    '6': '00110 01000 10000 11110 10001 10001 01110', '7': '11111 00001 00010 00100 01000 01000 01000',
    '8': '01110 10001 10001 01110 10001 10001 01110', '9': '01110 10001 10001 01111 00001 00010 01100',
    '.': '00000 00000 00000 00000 00000 01100 01100', '-': '00000 00000 00000 11111 00000 00000 00000',
    ' ': '00000 00000 00000 00000 00000 00000 00000', '(': '00010 00100 01000 01000 01000 00100 00010',
    ')': '01000 00100 00010 00010 00010 00100 01000', '/': '00001 00010 00010 00100 01000 01000 10000',
    ',': '00000 00000 00000 00000 01100 00100 01000', ':': '00000 01100 01100 00000 01100 01100 00000',
    '=': '00000 00000 11111 00000 11111 00000 00000',
    'A': '01110 10001 10001 11111 10001 10001 10001', 'B': '11110 10001 10001 11110 10001 10001 11110',
    'C': '01110 10001 10000 10000 10000 10001 01110', 'D': '11100 10010 10001 10001 10001 10010 11100',
    'E': '11111 10000 10000 11110 10000 10000 11111', 'F': '11111 10000 10000 11110 10000 10000 10000',
    'G': '01110 10001 10000 10111 10001 10001 01111', 'H': '10001 10001 10001 11111 10001 10001 10001',
    'I': '01110 00100 00100 00100 00100 00100 01110', 'J': '00111 00010 00010 00010 00010 10010 01100',
    'K': '10001 10010 10100 11000 10100 10010 10001', 'L': '10000 10000 10000 10000 10000 10000 11111',
    'M': '10001 11011 10101 10101 10001 10001 10001', 'N': '10001 10001 11001 10101 10011 10001 10001',
    'O': '01110 10001 10001 10001 10001 10001 01110', 'P': '11110 10001 10001 11110 10000 10000 10000',
    'Q': '01110 10001 10001 10001 10101 10010 01101', 'R': '11110 10001 10001 11110 10100 10010 10001',
    'S': '01111 10000 10000 01110 00001 00001 11110', 'T': '11111 00100 00100 00100 00100 00100 00100',
    'U': '10001 10001 10001 10001 10001 10001 01110', 'V': '10001 10001 10001 10001 10001 01010 00100',
    'W': '10001 10001 10001 10101 10101 10101 01010', 'X': '10001 10001 01010 00100 01010 10001 10001',
    'Y': '10001 10001 01010 00100 00100 00100 00100', 'Z': '11111 00001 00010 00100 01000 10000 11111',
}


class Canvas:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.pixels = bytearray(b'\xff' * (width * height * 3))

    def dot(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            i = (y * self.width + x) * 3
            self.pixels[i:i + 3] = bytes(colour)

    def line(self, x0, y0, x1, y1, colour, thick=1):
        steps = max(abs(x1 - x0), abs(y1 - y0), 1)
        for s in range(steps + 1):
            x = round(x0 + (x1 - x0) * s / steps)
            y = round(y0 + (y1 - y0) * s / steps)
            for dx in range(thick):
                for dy in range(thick):
                    self.dot(x + dx - thick // 2, y + dy - thick // 2, colour)

    def box(self, x, y, size, colour):
        for dx in range(-size, size + 1):
            for dy in range(-size, size + 1):
                self.dot(x + dx, y + dy, colour)

    def text(self, x, y, s, colour=(0, 0, 0), scale=1):
        for ch in s.upper():
            rows = _FONT.get(ch, _FONT[' ']).split()
            for r, bits in enumerate(rows):
                for c, bit in enumerate(bits):
                    if bit == '1':
                        for a in range(scale):
                            for b in range(scale):
                                self.dot(x + c * scale + a, y + r * scale + b, colour)
            x += 6 * scale

    def save(self, path):
        raw = b''.join(b'\x00' + bytes(self.pixels[y * self.width * 3:(y + 1) * self.width * 3])
                       for y in range(self.height))

        def chunk(kind, data):
            body = kind + data
            return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xffffffff)

        with open(path, 'wb') as f:
            f.write(b'\x89PNG\r\n\x1a\n')
            f.write(chunk(b'IHDR', struct.pack('>IIBBBBB', self.width, self.height, 8, 2, 0, 0, 0)))
            f.write(chunk(b'IDAT', zlib.compress(raw, 9)))
            f.write(chunk(b'IEND', b''))


def plot(path, series, x_label, y_label, title, width=800, height=560):
    """series: list of (name, colour, [(x, y), ...])."""
    c = Canvas(width, height)
    left, right, top, bottom = 80, width - 30, 50, height - 70
    xs = [x for _, _, pts in series for x, _ in pts]
    ys = [y for _, _, pts in series for _, y in pts]
    x0, x1 = 0.0, max(xs) * 1.05
    y0, y1 = min(ys) - 1.0, max(ys) + 1.0

    def px(x):
        return round(left + (x - x0) / (x1 - x0) * (right - left))

    def py(y):
        return round(bottom - (y - y0) / (y1 - y0) * (bottom - top))

    grey = (200, 200, 200)
    for i in range(6):
        xv = x0 + (x1 - x0) * i / 5
        yv = y0 + (y1 - y0) * i / 5
        c.line(px(xv), top, px(xv), bottom, grey)
        c.line(left, py(yv), right, py(yv), grey)
        c.text(px(xv) - 12, bottom + 8, f'{xv:.2f}')
        c.text(left - 40, py(yv) - 3, f'{yv:.1f}')
    c.line(left, bottom, right, bottom, (0, 0, 0))
    c.line(left, top, left, bottom, (0, 0, 0))
    c.text(left, 15, title, scale=2)
    c.text((left + right) // 2 - 3 * len(x_label), height - 30, x_label)
    c.text(5, top - 20, y_label)
    for row, (name, colour, pts) in enumerate(series):
        pts = sorted(pts)
        for (xa, ya), (xb, yb) in zip(pts, pts[1:]):
            c.line(px(xa), py(ya), px(xb), py(yb), colour, thick=2)
        for x, y in pts:
            c.box(px(x), py(y), 3, colour)
        c.box(right - 200, bottom - 20 - 18 * row, 4, colour)
        c.text(right - 188, bottom - 23 - 18 * row, name, colour)
    c.save(path)
