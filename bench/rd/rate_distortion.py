#!/usr/bin/env python3
"""Rate-distortion bench of the HV fractal codec against JPEG.

Runs the example graphs (examples/make_fractal.py) through `vorlan --run` on
grey pictures in Size mode (1) and Least error mode (2) with the example
graph's other settings, at target rates: for every target the number of
ranges is searched until the container lands near it (examples/
fractal_roundtrip.py). Each point reports bits per pixel (container bytes x
8 / pixels), the PSNR of the written 8-bit picture and the encoding time
beside JPEG (cjpeg -grayscale / djpeg) at the quality whose file size comes
nearest. Writes a Markdown table and a plot:

  bench/rd/rate_distortion.py [--vorlan build/release/vorlan] [--images camera.bmp astronaut.bmp]
                              [--bpp 0.125 0.25 0.5 1.0] [--modes 1 2] [--threads 1]
                              [--markdown docs/rate-distortion.md] [--png docs/rate-distortion.png]

One search thread by default, so that encode times compare across modes on a
shared machine; encode times are wall-clock seconds of the whole
`vorlan --run`.
"""
import argparse
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, 'examples'))
sys.path.insert(0, HERE)
import make_fractal  # noqa: E402
from fractal_roundtrip import RoundTrip  # noqa: E402

MODE_NAMES = {1: 'Size', 2: 'Least error'}
NOTES_HEADING = '## Notes'


def measure(args):
    rows = []
    for image in args.images:
        path = image if os.path.isabs(image) else os.path.join(ROOT, '..', 'shared', 'data', image)
        trip = RoundTrip(path, vorlan=args.vorlan, container=args.container)
        try:
            for mode in args.modes:
                bits_per_range = 36.0
                for target in args.bpp:
                    point, tried = trip.fractal_at_bpp(
                        target, tolerance=args.tolerance, tries=args.tries, mode=mode, threads=args.threads,
                        bits_per_range=bits_per_range,
                        progress=lambda p: print(f"  {p['options']['max_ranges']} ranges: {p['bpp']:.4f} bpp "
                                                 f"{p['psnr']:.2f} dB {p['encode']:.1f} s", flush=True))
                    bits_per_range = point['size'] * 8 / point['options']['max_ranges']
                    jpeg = trip.jpeg_nearest(point['size'])
                    row = {'image': os.path.basename(path), 'mode': mode, 'target': target,
                           'encodes': len(tried), 'ranges': point['options']['max_ranges'],
                           'size': point['size'], 'bpp': point['bpp'], 'psnr': point['psnr'],
                           'encode': point['encode'], 'decode': point['decode'],
                           'jpeg_quality': jpeg['quality'], 'jpeg_size': jpeg['size'], 'jpeg_bpp': jpeg['bpp'],
                           'jpeg_psnr': jpeg['psnr']}
                    rows.append(row)
                    print(json.dumps(row), flush=True)
        finally:
            trip.cleanup()
    return rows


def write_markdown(path, rows, args):
    lines = [
        '# Rate and distortion of the HV fractal codec',
        '',
        'Pictures: `camera.bmp` and the grey of `astronaut.bmp` (Y = 0.299 R + 0.587 G + 0.114 B, what the',
        "example graph's Grayscale conversion makes), 512 x 512. Fractal points run the example round trip",
        '(written by `examples/make_fractal.py`) through `vorlan --run` with the code stored '
        + ('as Huffman-coded SI, OI, TRN, DP, DF, RTD and RTT plus the 48-byte header in one serializer'
           ' container (`compress_huffman.gph`); the HV code packer of `compress.gph` stores the same code'
           ' in about 15 % fewer bytes (`--container packed`);' if args.container == 'huffman'
           else 'by the HV code packer (`compress.gph`);') + ' domain grid',
        f'{make_fractal.DEFAULT_STEP} x {make_fractal.DEFAULT_STEP}, shrink factors 2 x 2, minRangeSize '
        f'{make_fractal.DEFAULT_MIN_RANGE_SIZE}, {make_fractal.DEFAULT_SCALE_LEVELS} scale and '
        f'{make_fractal.DEFAULT_OFFSET_LEVELS} offset levels, {args.threads} search thread(s);',
        'decoding 20 passes without border smoothing. Only the compression mode differs between the two rows of',
        'a target. For each target rate the number of ranges (`maxRanges`) is searched in a few encodes',
        '(`fractal_at_bpp` in `examples/fractal_roundtrip.py`); "encodes" says how many it took.',
        '',
        'Bits per pixel = container bytes x 8 / pixels. PSNR is that of the decoded picture as written (8 bits)',
        'against the source\'s grey. Encode times are wall-clock seconds of the whole `vorlan --run` on a shared, loaded build',
        'machine: compare them with each other, not with other machines. JPEG: `cjpeg -grayscale -quality Q` /',
        '`djpeg` (libjpeg-turbo), file size including headers, at the quality whose size comes nearest to the',
        'fractal container; its PSNR is against the same grey picture.',
        '',
        'Regenerate with `bench/rd/rate_distortion.py` (needs a release build; about half an hour on one core).',
        '',
        '| picture | mode | target bpp | ranges | encodes | bytes | bpp | PSNR (dB) | encode (s) | JPEG Q | JPEG bpp '
        '| JPEG PSNR (dB) | fractal − JPEG (dB) |',
        '|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|',
    ]
    for r in rows:
        lines.append(f"| {r['image']} | {MODE_NAMES.get(r['mode'], r['mode'])} | {r['target']:g} | {r['ranges']} | "
                     f"{r['encodes']} | {r['size']} | {r['bpp']:.3f} | {r['psnr']:.2f} | {r['encode']:.1f} | "
                     f"{r['jpeg_quality']} | {r['jpeg_bpp']:.3f} | {r['jpeg_psnr']:.2f} | "
                     f"{r['psnr'] - r['jpeg_psnr']:+.2f} |")
    lines += ['', '![rate and distortion](rate-distortion.png)', '']
    # Hand-written notes below the table survive regeneration.
    notes = ''
    if os.path.exists(path):
        with open(path) as f:
            old = f.read()
        at = old.find(NOTES_HEADING)
        if at >= 0:
            notes = old[at:]
    with open(path, 'w') as f:
        f.write('\n'.join(lines))
        if notes:
            f.write('\n' + notes)


def plot(path, rows):
    import matplotlib
    matplotlib.use('Agg')
    import matplotlib.pyplot as plt

    images = sorted({r['image'] for r in rows}, key=lambda name: [r['image'] for r in rows].index(name))
    fig, axes = plt.subplots(1, len(images), figsize=(6 * len(images), 4.6), squeeze=False)
    styles = {1: ('tab:green', 's', 'HV, Size mode'), 2: ('tab:red', 'o', 'HV, Least error mode')}
    for ax, image in zip(axes[0], images):
        mine = [r for r in rows if r['image'] == image]
        for mode, (colour, marker, label) in styles.items():
            pts = sorted((r['bpp'], r['psnr']) for r in mine if r['mode'] == mode)
            if pts:
                ax.plot(*zip(*pts), color=colour, marker=marker, label=label)
        jpeg = sorted({(r['jpeg_bpp'], r['jpeg_psnr']) for r in mine})
        ax.plot(*zip(*jpeg), color='tab:blue', marker='^', linestyle='--', label='JPEG (cjpeg -grayscale)')
        ax.set_xscale('log', base=2)
        ax.set_xticks([0.125, 0.25, 0.5, 1.0])
        ax.set_xticklabels(['0.125', '0.25', '0.5', '1'])
        ax.set_xlabel('Bits per pixel')
        ax.set_ylabel('PSNR (dB)')
        ax.set_title(f'{image} (grey): HV fractal vs JPEG')
        ax.grid(True, alpha=0.3)
        ax.legend(loc='lower right')
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--vorlan', default=os.path.join(ROOT, 'build', 'release', 'vorlan'))
    parser.add_argument('--images', nargs='+', default=['camera.bmp', 'astronaut.bmp'],
                        help='BMP files; bare names are taken from ../shared/data')
    parser.add_argument('--bpp', nargs='+', type=float, default=[0.125, 0.25, 0.5, 1.0])
    parser.add_argument('--modes', nargs='+', type=int, default=[1, 2])
    parser.add_argument('--threads', type=int, default=1)
    parser.add_argument('--container', default='huffman', choices=sorted(make_fractal.CONTAINERS),
                        help='how the code is stored: huffman (Huffman + serializer, the published table) '
                             'or packed (the HV code packer, about 15 %% smaller)')
    parser.add_argument('--tolerance', type=float, default=0.03, help='relative rate tolerance')
    parser.add_argument('--tries', type=int, default=3, help='encodes per target at most')
    parser.add_argument('--json', help='also write (or, with --replot, read) the measured rows here')
    parser.add_argument('--replot', action='store_true', help='redraw from --json without measuring')
    parser.add_argument('--markdown', default=os.path.join(ROOT, 'docs', 'rate-distortion.md'))
    parser.add_argument('--png', default=os.path.join(ROOT, 'docs', 'rate-distortion.png'))
    args = parser.parse_args()
    if args.replot:
        if not args.json:
            parser.error('--replot needs --json')
        with open(args.json) as f:
            rows = json.load(f)
    else:
        rows = measure(args)
        if args.json:
            with open(args.json, 'w') as f:
                json.dump(rows, f, indent=1)
    write_markdown(args.markdown, rows, args)
    plot(args.png, rows)
    print(f'wrote {args.markdown} and {args.png}')


if __name__ == '__main__':
    main()
