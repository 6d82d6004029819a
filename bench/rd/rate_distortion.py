#!/usr/bin/env python3
"""Rate-distortion bench of the HV fractal codec against JPEG, JPEG 2000
(9/7), WebP, AVIF and JPEG XL.

Fractal points come from `rd_points` (bench/rd/rd_points.cpp), which runs
the example round trip in one process: BMP -> Y grey -> HV encoder -> HV
code packer -> unpacker -> HV decoder -> the 8-bit values the Bmp encoder
writes. For every target rate it searches the number of ranges until the
packed stream lands near it. Each fractal configuration (--configs, see
CONFIGS) is one curve. The rival codecs run through their Debian command
line tools (vorlan_workbench.codecs), each bisected to the same target
rates. Every rate is file bytes x 8 / pixels, every PSNR is taken on the
8-bit decoded picture against the same 8-bit grey (peak 255), and the
BD-rates (vorlan_workbench.bdrate, pchip) say how many more bits each
fractal curve needs than each rival at equal PSNR, over the PSNR interval
both cover between the lowest and the highest target rate.

  bench/rd/rate_distortion.py [--rd-points build/release/bench/rd_points]
        [--images camera.bmp astronaut.bmp] [--bpp 0.125 0.25 0.5 1.0]
        [--configs shipped best] [--rivals jpeg jpeg2000 webp avif jpegxl]
        [--json rows.json] [--replot] [--markdown docs/rate-distortion.md]
        [--png docs/rate-distortion.png]

Takes 10 to 30 minutes, by the load of the machine. Encode times are wall-clock seconds of
the HV encoder's Process (one search thread) and of the rival's encoder
command, on a shared machine: compare them with each other only.
"""
from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
from typing import Optional

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, 'python'))
from vorlan_workbench import bdrate, codecs, pictures  # noqa: E402

NOTES_HEADING = '## Notes'

# Fractal configurations: (label, rd_points options). "shipped" is the
# example graphs' round trip before this bench's rounds of changes (Least
# error, factors 2, grid 8, minRangeSize 2, 32/128 levels, packed container
# version 1, no post-processing); "least_error" the examples of the round
# after it (packed v2, deblocking); "best" Rate-distortion mode on the same
# pool, "attractor" the same with the attractor search (what the examples
# ship), "quick_attractor" with the quick attractor search; "rd_wide" the
# widest pool near the encode-time budget (factors 2 to 4 on a 24-pixel grid).
CONFIGS: dict[str, tuple[str, list[str]]] = {
    'shipped': ('HV, packed v1, no post-processing', []),
    'deblock': ('HV, packed v1, deblocking', ['--decode', 'postProcessing=2']),
    'v2': ('HV, packed v2, no post-processing', ['--pack-version', '2']),
    'least_error': ('HV, Least error, packed v2, deblocking', ['--pack-version', '2', '--decode', 'postProcessing=2']),
    'best': ('HV, Rate-distortion, packed v2, deblocking',
             ['--pack-version', '2', '--decode', 'postProcessing=2', '--set', 'mode=3']),
    'attractor': ('HV, Rate-distortion, attractor search, packed v2, deblocking',
                  ['--pack-version', '2', '--decode', 'postProcessing=2', '--set', 'mode=3', '--set', 'searchMode=2']),
    'quick_attractor': ('HV, Rate-distortion, quick attractor search, packed v2, deblocking',
                        ['--pack-version', '2', '--decode', 'postProcessing=2', '--set', 'mode=3', '--set',
                         'searchMode=3']),
    'rd_wide': ('HV, Rate-distortion, factors 2-4, step 24, packed v2, deblocking',
                ['--pack-version', '2', '--decode', 'postProcessing=2', '--set', 'mode=3', '--set', 'maxRangeFactor=4',
                 '--set', 'step=24']),
    'rd_wide_attractor': ('HV, Rate-distortion, attractor search, factors 2-4, step 24, packed v2, deblocking',
                          ['--pack-version', '2', '--decode', 'postProcessing=2', '--set', 'mode=3', '--set',
                           'searchMode=2', '--set', 'maxRangeFactor=4', '--set', 'step=24']),
}


def image_path(image: str) -> str:
    """A bare name is taken from ../shared/data beside the repository."""
    return image if os.path.isabs(image) or os.path.exists(image) else os.path.join(ROOT, '..', 'shared', 'data', image)


def fractal_curve(rd_points: str, path: str, config: str, targets: list[float], tries: int) -> list[dict]:
    """One rd_points run over every target: a JSON object per point."""
    label, options = CONFIGS[config]
    command = [rd_points, path, '--tries', str(tries), '--label', config, *options, '--bpp', *map(str, targets)]
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f'{" ".join(command)} failed: {result.stderr.strip()[-400:]}')
    points = [json.loads(line) for line in result.stdout.splitlines() if line.startswith('{')]
    rows = []
    for p in points:
        rows.append({'image': os.path.basename(path), 'curve': config, 'label': label, 'target': p['target'],
                     'bpp': p['bpp'], 'psnr': p['psnr'], 'bytes': p['bytes'], 'ranges': p['ranges'],
                     'encode': p['encode_wall'], 'decode': p['decode_wall']})
    return rows


def rival_curve(name: str, path: str, targets: list[float]) -> list[dict]:
    """The rival bisected to every target; empty when its tools are missing."""
    codec = codecs.CODECS[name]
    missing = codec.missing()
    if missing is not None:
        print(f'  skipped: {missing}', flush=True)
        return []
    grey = pictures.read_bmp_grey(path)
    rows = []
    for e in codecs.curve(codec, grey, targets):
        rows.append({'image': os.path.basename(path), 'curve': name, 'label': codec.label, 'target': None,
                     'bpp': e.bpp, 'psnr': e.psnr(grey), 'bytes': e.size, 'knob': e.knob, 'encode': e.seconds})
    for row, target in zip(rows, targets):
        row['target'] = target
    return rows


def measure(args) -> list[dict]:
    rows: list[dict] = []
    for image in args.images:
        path = image_path(image)
        for config in args.configs:
            print(f'{os.path.basename(path)}: {config}', flush=True)
            rows += fractal_curve(args.rd_points, path, config, args.bpp, args.tries)
        for rival in args.rivals:
            print(f'{os.path.basename(path)}: {rival}', flush=True)
            rows += rival_curve(rival, path, args.bpp)
    return rows


def points(rows: list[dict], image: str, curve: str) -> list[tuple[float, float]]:
    return sorted((r['bpp'], r['psnr']) for r in rows if r['image'] == image and r['curve'] == curve)


def bd_table(rows: list[dict], configs: list[str], rivals: list[str]) -> dict:
    """BD-rate (%) of every fractal curve against every rival, per image and
    averaged over the images; None where the curves share no PSNR interval."""
    images = list(dict.fromkeys(r['image'] for r in rows))
    table: dict = {}
    for config in configs:
        for rival in rivals:
            values: list[Optional[float]] = []
            for image in images:
                mine, theirs = points(rows, image, config), points(rows, image, rival)
                try:
                    values.append(bdrate.bd_rate(theirs, mine) if len(mine) >= 2 and len(theirs) >= 2 else None)
                except ValueError:
                    values.append(None)
            known = [v for v in values if v is not None]
            table[(config, rival)] = (values, sum(known) / len(known) if len(known) == len(values) and known else None)
    return {'images': images, 'table': table}


def write_markdown(path: str, rows: list[dict], args) -> None:
    configs = [c for c in args.configs if any(r['curve'] == c for r in rows)]
    rivals = [c for c in args.rivals if any(r['curve'] == c for r in rows)]
    bd = bd_table(rows, configs, rivals)
    images = bd['images']
    fmt = lambda v: '—' if v is None else f'{v:+.1f} %'  # noqa: E731
    lines = [
        '# Rate and distortion of the HV fractal codec',
        '',
        'Pictures: `camera.bmp` and the grey of `astronaut.bmp` (Y = 0.299 R + 0.587 G + 0.114 B, what the',
        "example graph's Grayscale conversion makes, rounded to 8 bits), 512 x 512. Fractal points come from",
        '`bench/rd/rd_points`, the example round trip in one process (HV encoder in Least error mode unless',
        'a curve sets another, shrink factors 2, domain grid 8, minRangeSize 2, 32 scale and 128 offset',
        'levels, one search thread; the HV code packer; the HV decoder with 20 passes; the 8-bit values the',
        'Bmp encoder writes). For each target rate the number of ranges is searched in a few encodes. The',
        "fractal curves differ in the encoder's mode and pool, the packed container's format version and the",
        "decoder's post-processing:",
        '',
    ]
    for c in configs:
        lines.append(f'- `{c}`: {CONFIGS[c][0]} (`rd_points IMAGE {" ".join(CONFIGS[c][1]) + " " if CONFIGS[c][1] else ""}'
                     '--bpp ...`)')
    lines += [
        '',
        'Rivals, each bisected to the same target rates (`python/vorlan_workbench/codecs.py`): JPEG (`cjpeg',
        '-grayscale`), JPEG 2000 with the 9/7 wavelet (`opj_compress -I -r`), WebP (`cwebp -m 6 -q`), AVIF',
        '(`avifenc -s 4`, one quantiser) and JPEG XL (`cjxl -e 7 -d`). Bits per pixel = file bytes x 8 /',
        'pixels, headers included; PSNR on the 8-bit decoded picture against the same 8-bit grey (peak 255).',
        '',
        'Regenerate with `bench/rd/rate_distortion.py` (a release build; 10 to 30 minutes, by the load of the',
        'machine). Encode times are wall-clock seconds on a shared, loaded machine: compare them with each',
        'other only.',
        '',
        '## BD-rate',
        '',
        'Extra bits a fractal curve needs at equal PSNR against each rival (Bjøntegaard, pchip, over the PSNR',
        f'interval both curves cover; targets {", ".join(f"{t:g}" for t in args.bpp)} bpp). Negative: the',
        'fractal curve needs fewer bits.',
        '',
        '| fractal curve | rival | ' + ' | '.join(images) + ' | mean |',
        '|---|---|' + '---:|' * (len(images) + 1),
    ]
    for c in configs:
        for rival in rivals:
            values, mean = bd['table'][(c, rival)]
            lines.append(f'| `{c}` | {codecs.CODECS[rival].label} | ' + ' | '.join(fmt(v) for v in values)
                         + f' | {fmt(mean)} |')
    lines += [
        '',
        '## Points',
        '',
        '| picture | curve | target bpp | bpp | PSNR (dB) | bytes | ranges / knob | encode (s) |',
        '|---|---|---:|---:|---:|---:|---:|---:|',
    ]
    for r in rows:
        knob = r.get('ranges', r.get('knob'))
        knob_text = f'{knob:g}' if isinstance(knob, float) else str(knob)
        lines.append(f"| {r['image']} | {r['label']} | {r['target']:g} | {r['bpp']:.3f} | {r['psnr']:.2f} | "
                     f"{r['bytes']} | {knob_text} | {r['encode']:.2f} |")
    lines += ['', '![rate and distortion](rate-distortion.png)', '']
    # Hand-written notes below the tables survive regeneration.
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


def plot(path: str, rows: list[dict], args) -> None:
    import matplotlib
    matplotlib.use('Agg')
    import matplotlib.pyplot as plt

    images = list(dict.fromkeys(r['image'] for r in rows))
    fig, axes = plt.subplots(1, len(images), figsize=(6.5 * len(images), 5.9), squeeze=False)
    styles = {'shipped': ('tab:red', 'o', '-'), 'deblock': ('tab:orange', 'o', ':'), 'v2': ('tab:pink', 'o', ':'),
              'least_error': ('tab:olive', 'D', ':'), 'best': ('darkred', 'D', ':'), 'attractor': ('darkred', 'D', '-'), 'quick_attractor': ('tab:red', 'D', '-.'), 'rd_wide': ('black', 'x', ':'), 'jpeg': ('tab:blue', '^', '--'), 'jpeg2000': ('tab:green', 's', '--'),
              'webp': ('tab:purple', 'v', '--'), 'avif': ('tab:brown', 'P', '--'), 'jpegxl': ('tab:gray', 'X', '--')}
    for ax, image in zip(axes[0], images):
        for curve in [*args.configs, *args.rivals]:
            pts = points(rows, image, curve)
            if not pts:
                continue
            colour, marker, line = styles.get(curve, ('black', '.', '-'))
            label = next(r['label'] for r in rows if r['curve'] == curve)
            ax.plot(*zip(*pts), color=colour, marker=marker, linestyle=line, label=label)
        ax.set_xscale('log', base=2)
        ax.set_xticks(args.bpp)
        ax.set_xticklabels([f'{t:g}' for t in args.bpp])
        ax.set_xlabel('Bits per pixel')
        ax.set_ylabel('PSNR (dB, 8-bit output)')
        ax.set_title(f'{image} (grey)')
        ax.grid(True, alpha=0.3)
    # One legend under both plots, where it hides no curve.
    handles, labels = axes[0][0].get_legend_handles_labels()
    fig.legend(handles, labels, loc='lower center', ncol=3, fontsize='small', frameon=False)
    fig.tight_layout(rect=(0, 0.15, 1, 1))
    fig.savefig(path, dpi=110)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--rd-points', default=os.path.join(ROOT, 'build', 'release', 'bench', 'rd_points'))
    parser.add_argument('--images', nargs='+', default=['camera.bmp', 'astronaut.bmp'],
                        help='BMP files; bare names are taken from ../shared/data')
    parser.add_argument('--bpp', nargs='+', type=float, default=[0.125, 0.25, 0.5, 1.0])
    parser.add_argument('--configs', nargs='+', default=['shipped', 'least_error', 'best'], choices=sorted(CONFIGS))
    parser.add_argument('--rivals', nargs='+', default=['jpeg', 'jpeg2000', 'webp', 'avif', 'jpegxl'],
                        choices=sorted(codecs.CODECS))
    parser.add_argument('--tries', type=int, default=4, help='encodes per fractal target at most')
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
    plot(args.png, rows, args)
    print(f'wrote {args.markdown} and {args.png}')


if __name__ == '__main__':
    main()
