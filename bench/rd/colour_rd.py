#!/usr/bin/env python3
"""Rate-distortion bench of the colour fractal round trip against colour JPEG.

Runs examples/colour_roundtrip.py's round trip (compress_colour.gph and
decompress_colour.gph through `vorlan --run`) on a colour picture at target
rates, each split between Y, Cb and Cr by equal slope, and colour JPEG
(cjpeg -optimize, 4:2:0, decoded by djpeg) at the quality whose file size
comes nearest. Both are measured on the written 8-bit pictures: PSNR over R,
G and B, and PSNR of Y. With --grey-time, the grey round trip at the same
rates is timed too (encode of the grey picture of the same photograph).
Writes a Markdown table:

  bench/rd/colour_rd.py [--vorlan build/release/vorlan] [--image astronaut.bmp]
                        [--bpp 0.25 0.5 1.0] [--up bicubic] [--grey-time]
                        [--markdown docs/rate-distortion-colour.md] [--json rows.json]
"""
import argparse
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, 'examples'))
from colour_roundtrip import ColourTrip  # noqa: E402
from fractal_roundtrip import RoundTrip  # noqa: E402


def measure(args):
    path = args.image if os.path.isabs(args.image) else os.path.join(ROOT, '..', 'shared', 'data', args.image)
    trip = ColourTrip(path, vorlan=args.vorlan, up=args.up, threads=args.threads)
    grey = RoundTrip(path, vorlan=args.vorlan) if args.grey_time else None
    rows = []
    try:
        for target in args.bpp:
            point, tried = trip.fractal_at_bpp(target)
            jpeg = trip.jpeg_nearest(point['bytes'])
            row = {'image': os.path.basename(path), 'target': target, 'encodes': len(tried),
                   'ranges': point['ranges'], 'bytes': point['bytes'], 'bpp': point['bpp'],
                   'psnr_rgb': point['psnr_rgb'], 'psnr_y': point['psnr_y'], 'encode': point['encode'],
                   'encode_cpu': point['encode_cpu'],
                   'decode': point['decode'], 'jpeg_quality': jpeg['quality'], 'jpeg_bytes': jpeg['bytes'],
                   'jpeg_bpp': jpeg['bpp'], 'jpeg_psnr_rgb': jpeg['psnr_rgb'], 'jpeg_psnr_y': jpeg['psnr_y']}
            if grey is not None:
                g, _ = grey.fractal_at_bpp(target, threads=args.threads)
                row.update({'grey_bpp': g['bpp'], 'grey_encode': g['encode'], 'grey_encode_cpu': g['encode_cpu']})
            rows.append(row)
            print(json.dumps(row), flush=True)
    finally:
        trip.cleanup()
        if grey is not None:
            grey.cleanup()
    return rows


def write_markdown(path, rows, args):
    lines = [
        '# Rate and distortion of the colour round trip',
        '',
        f'Picture: `{rows[0]["image"]}`, 512 x 512, 24-bit colour. The fractal points run',
        '`compress_colour.gph` and `decompress_colour.gph` (written by `examples/make_colour.py`) through',
        '`vorlan --run`: Y at full size, Cb and Cr taken down to half size by area averages, one HV encoder',
        '(Rate-distortion mode with the attractor search, the settings of `compress.gph`) and HV code packer per plane, a serializer',
        f'container; on the way back Cb and Cr go up by {args.up} interpolation. The ranges are split between',
        'the planes by equal slope (`examples/colour_roundtrip.py`: two probes per plane, then encodes',
        'that scale all planes together until the container is within 3 % of the target). JPEG is',
        '`cjpeg -optimize` (4:2:0) at the quality whose file is nearest in size, decoded by `djpeg`.',
        'PSNR over R, G and B pools the squared errors of the three planes; PSNR of Y compares',
        '0.299 R + 0.587 G + 0.114 B of both pictures. Both are measured on the written 8-bit pictures.',
        '',
        '| target bpp | ranges Y / Cb / Cr | bytes | bpp | RGB dB | Y dB | JPEG q | JPEG bytes | JPEG RGB dB '
        '| JPEG Y dB | RGB diff | Y diff | encode s (CPU s) |' + (' grey bpp | grey encode s (CPU s) |'
                                                             if 'grey_encode' in rows[0] else ''),
        '|---|---|---|---|---|---|---|---|---|---|---|---|---|' + ('---|---|' if 'grey_encode' in rows[0] else ''),
    ]
    for r in rows:
        n = r['ranges']
        line = (f"| {r['target']:g} | {n['Y']} / {n['Cb']} / {n['Cr']} | {r['bytes']} | {r['bpp']:.3f} "
                f"| {r['psnr_rgb']:.2f} | {r['psnr_y']:.2f} | {r['jpeg_quality']} | {r['jpeg_bytes']} "
                f"| {r['jpeg_psnr_rgb']:.2f} | {r['jpeg_psnr_y']:.2f} | {r['psnr_rgb'] - r['jpeg_psnr_rgb']:+.2f} "
                f"| {r['psnr_y'] - r['jpeg_psnr_y']:+.2f} | {r['encode']:.1f} ({r['encode_cpu']:.1f}) |")
        if 'grey_encode' in r:
            line += f" {r['grey_bpp']:.3f} | {r['grey_encode']:.1f} ({r['grey_encode_cpu']:.1f}) |"
        lines.append(line)
    lines.append('')
    lines.append('Measured with `bench/rd/colour_rd.py' + (' --grey-time' if 'grey_encode' in rows[0] else '')
                 + '` (encode seconds: wall clock of the whole `vorlan --run`, in brackets its processor '
                 'seconds, user and system, which a loaded machine changes less; '
                 f'{args.threads} search thread(s) per encoder).')
    with open(path, 'w') as f:
        f.write('\n'.join(lines) + '\n')


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--vorlan', default=os.path.join(ROOT, 'build', 'release', 'vorlan'))
    parser.add_argument('--image', default='astronaut.bmp')
    parser.add_argument('--bpp', nargs='+', type=float, default=[0.25, 0.5, 1.0])
    parser.add_argument('--up', choices=['bicubic', 'bilinear', 'fractal'], default='bicubic')
    parser.add_argument('--threads', type=int, default=2)
    parser.add_argument('--grey-time', action='store_true', help='also time the grey round trip at each rate')
    parser.add_argument('--markdown', default=os.path.join(ROOT, 'docs', 'rate-distortion-colour.md'))
    parser.add_argument('--json', help='also write the measured rows here')
    args = parser.parse_args()
    rows = measure(args)
    if args.json:
        with open(args.json, 'w') as f:
            json.dump(rows, f, indent=1)
    write_markdown(args.markdown, rows, args)


if __name__ == '__main__':
    main()
