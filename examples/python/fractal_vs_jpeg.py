#!/usr/bin/env python3
"""Fractal coding against JPEG from Python, notebook style: a grey picture
encoded at three rates with `vorlan.encode`, decoded with `vorlan.decode`,
and PSNR plotted against bits per pixel beside JPEG's (cjpeg/djpeg).

  fractal_vs_jpeg.py [IMAGE.bmp] [--bpp 0.25 0.5 1.0] [--output plot.png]

Each step below is a few lines that can be pasted into a notebook cell.
"""
import argparse
import os
import shutil
import struct
import subprocess
import tempfile

import numpy as np

import vorlan

HERE = os.path.dirname(os.path.abspath(__file__))


# -- Cell 1: the picture as 8-bit grey levels ---------------------------------
def read_bmp_grey(path):
    """A 24-bit BMP's grey (Y = 0.299 R + 0.587 G + 0.114 B), rounded to levels."""
    data = open(path, 'rb').read()
    if data[:2] != b'BM' or struct.unpack_from('<H', data, 28)[0] != 24:
        raise SystemExit(f'{path}: a 24-bit BMP is needed')
    offset = struct.unpack_from('<I', data, 10)[0]
    width, height = struct.unpack_from('<ii', data, 18)
    stride = (width * 3 + 3) & ~3
    rows = np.frombuffer(data, np.uint8, stride * abs(height), offset).reshape(abs(height), stride)
    bgr = rows[:, :3 * width].reshape(abs(height), width, 3).astype(np.float64)
    if height > 0:
        bgr = bgr[::-1]
    grey = 0.299 * bgr[..., 2] + 0.587 * bgr[..., 1] + 0.114 * bgr[..., 0]
    return np.ascontiguousarray(np.clip(np.rint(grey), 0, 255).astype(np.uint8))


def psnr(a, b):
    """PSNR in dB of two 8-bit pictures."""
    mse = np.mean((a.astype(np.float64) - b) ** 2)
    return float('inf') if mse == 0 else 10 * np.log10(255.0 ** 2 / mse)


# -- Cell 2: fractal codes at the target rates --------------------------------
def fractal_points(grey, targets):
    points = []
    for target in targets:
        code = vorlan.encode(grey, bpp=target)           # searches the number of ranges
        decoded = vorlan.decode(code, dtype=np.uint8)
        points.append((len(code) * 8 / grey.size, psnr(grey, decoded)))
        print(f'fractal  {target:5.3f} bpp asked: {points[-1][0]:.3f} bpp, {points[-1][1]:.2f} dB')
    return points


# -- Cell 3: JPEG at the qualities that land near the same sizes --------------
def jpeg_points(grey, sizes):
    work = tempfile.mkdtemp(prefix='vorlan-jpeg-')
    try:
        source = os.path.join(work, 'grey.pgm')
        with open(source, 'wb') as f:
            f.write(b'P5 %d %d 255\n' % (grey.shape[1], grey.shape[0]) + grey.tobytes())

        def at(quality):
            jpeg = os.path.join(work, f'{quality}.jpg')
            subprocess.run(['cjpeg', '-grayscale', '-quality', str(quality), '-outfile', jpeg, source], check=True,
                           stderr=subprocess.DEVNULL)
            out = subprocess.run(['djpeg', '-pnm', jpeg], check=True, capture_output=True).stdout
            pixels = np.frombuffer(out[len(out) - grey.size:], np.uint8).reshape(grey.shape)
            return os.path.getsize(jpeg), psnr(grey, pixels)

        points = []
        for size in sizes:
            best = min((at(q) for q in range(10, 100, 5)), key=lambda p: abs(p[0] - size))
            points.append((best[0] * 8 / grey.size, best[1]))
            print(f'JPEG     {points[-1][0]:.3f} bpp: {points[-1][1]:.2f} dB')
        return points
    finally:
        shutil.rmtree(work, ignore_errors=True)


# -- Cell 4: the plot ----------------------------------------------------------
def plot(fractal, jpeg, output, title):
    import matplotlib
    matplotlib.use('Agg')
    import matplotlib.pyplot as plt
    fig, ax = plt.subplots(figsize=(6, 4))
    ax.plot(*zip(*fractal), 'o-', label='HV fractal (vorlan)')
    if jpeg:
        ax.plot(*zip(*jpeg), 's--', label='JPEG')
    ax.set_xlabel('bits per pixel')
    ax.set_ylabel('PSNR (dB)')
    ax.set_title(title)
    ax.grid(True, alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(output, dpi=120)
    print(f'plot     {output}')


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    default_image = os.path.join(HERE, '..', 'input.bmp')
    parser.add_argument('image', nargs='?', default=default_image)
    parser.add_argument('--bpp', type=float, nargs=3, default=[0.25, 0.5, 1.0], help='three target rates')
    parser.add_argument('--output', default='fractal_vs_jpeg.png', help='the plot (PNG)')
    args = parser.parse_args()
    grey = read_bmp_grey(args.image)
    print(f'picture  {args.image}: {grey.shape[1]} x {grey.shape[0]}')
    fractal = fractal_points(grey, args.bpp)
    jpeg = None
    if shutil.which('cjpeg') and shutil.which('djpeg'):
        jpeg = jpeg_points(grey, [bpp * grey.size / 8 for bpp, _ in fractal])
    else:
        print('cjpeg/djpeg not found (Debian: libjpeg-turbo-progs): no JPEG curve')
    plot(fractal, jpeg, args.output, os.path.basename(args.image))


if __name__ == '__main__':
    main()
