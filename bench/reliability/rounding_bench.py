#!/usr/bin/python3
"""What the written 8-bit picture loses against the decoded plane.

  bench/reliability/rounding_bench.py [--vorlan build/release/vorlan] [--images camera.bmp astronaut.bmp]
                                      [--ranges 500 2000 8000 16000 32000]

For every image and number of ranges, one fractal round trip with the
example graphs (examples/fractal_roundtrip.py): the PSNR the decompress
graph measures on the decoded plane (the PSNR enumerator, in the graph) and
the PSNR of the BMP the graph writes, against the same grey reference
(Y = 0.299 R + 0.587 G + 0.114 B of the source, unrounded). Prints both in
dB, their difference, and the mean signed error of the written grey levels
against the reference (negative: darker).
"""
import argparse
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, 'examples'))
from fractal_roundtrip import RoundTrip, psnr, read_bmp_grey  # noqa: E402

sys.path.insert(0, HERE)
from process import default_vorlan  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--vorlan', default=default_vorlan())
    parser.add_argument('--images', nargs='+', default=['camera.bmp', 'astronaut.bmp'])
    parser.add_argument('--ranges', type=int, nargs='+', default=[500, 2000, 8000, 16000, 32000])
    args = parser.parse_args()
    print('| image | ranges | in-graph PSNR | written file PSNR | difference | mean error of the file |')
    print('|---|---:|---:|---:|---:|---:|')
    differences = []
    for image in args.images:
        path = image if os.path.isabs(image) else os.path.join(ROOT, '..', 'shared', 'data', image)
        trip = RoundTrip(path, vorlan=args.vorlan)
        try:
            reference = trip.grey()
            for ranges in args.ranges:
                point = trip.fractal(max_ranges=ranges)
                written = read_bmp_grey(point['decoded'])
                file_psnr = psnr(reference, written)
                bias = sum(w - r for w, r in zip(written, reference)) / len(reference)
                differences.append(file_psnr - point['psnr'])
                print(f"| {os.path.basename(path)} | {ranges} | {point['psnr']:.2f} dB | {file_psnr:.2f} dB | "
                      f"{file_psnr - point['psnr']:+.2f} dB | {bias:+.2f} |", flush=True)
        finally:
            trip.cleanup()
    print(f'\nwritten file against plane: mean {sum(differences) / len(differences):+.3f} dB, '
          f'worst {min(differences):+.3f} dB')


if __name__ == '__main__':
    main()
