#!/usr/bin/env python3
"""A fractal round trip of a colour picture, colour JPEG at the nearest file
size, and a rate target split between Y, Cb and Cr by equal slope.

  colour_roundtrip.py PICTURE [--bpp TARGET] [--output OUT.png] [--json]

runs compress_colour.gph and decompress_colour.gph and prints the size, bits
per pixel, the PSNR over R, G and B and the PSNR of Y (both on the written
8-bit picture), then those of JPEG (cjpeg -optimize, 4:2:0, decoded by
djpeg) at the file size nearest to it. VORLAN names the program (default
build/release/vorlan beside this folder, else the vorlan on PATH).

With --bpp, a first pass codes each plane at two numbers of ranges and
measures its error and size; the ranges then go where they buy the most:
each plane gets the number at which one more byte lowers the picture's
squared error by as much as in every other plane (equal slope), within the
target. A last encode or two correct the size.
"""
import argparse
import json
import math
import os
import resource
import shutil
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_colour  # noqa: E402
from fractal_roundtrip import BITS_PER_RANGE, bmp_size, default_vorlan, nearest_quality, run  # noqa: E402

PLANES = make_colour.PLANES
# How much each plane's squared error weighs in the mean squared error over
# R, G and B: YCbCr -> RGB is R = Y + 1.402 Cr, G = Y - 0.344 Cb - 0.714 Cr,
# B = Y + 1.772 Cb, so independent errors add up as these weights (divided
# by the three planes).
RGB_WEIGHTS = {'Y': 1.0, 'Cb': (0.344136 ** 2 + 1.772 ** 2) / 3, 'Cr': (1.402 ** 2 + 0.714136 ** 2) / 3}
# The split without a first pass: shares of the ranges.
FIXED_SHARES = {'Y': 0.76, 'Cb': 0.12, 'Cr': 0.12}
FEWEST_RANGES = 16  # a plane always gets at least this many


def children_cpu():
    """Processor seconds (user and system) of the finished child processes."""
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def shown(output):
    """caption -> value from the Text display lines 'caption<TAB>value<TAB>type'."""
    values = {}
    for line in output.splitlines():
        parts = line.split('\t')
        if len(parts) >= 2:
            try:
                values[parts[0]] = float(parts[1])
            except ValueError:
                pass
    return values


def psnr_of(rms, peak=255.0):
    return math.inf if rms == 0 else 20 * math.log10(peak / rms)


def measured(values):
    """The PSNR figures from the measurement's displays: over R, G and B
    (from the three RMS values) and of Y."""
    mse = sum(values['RMS ' + c] ** 2 for c in 'RGB') / 3
    return {'psnr_rgb': psnr_of(math.sqrt(mse)), 'psnr_y': values['PSNR Y'],
            'psnr_r': values['PSNR R'], 'psnr_g': values['PSNR G'], 'psnr_b': values['PSNR B']}


class PowerLaw:
    """A plane's squared error against its size, D(R) = a R^-b, through
    measured (bytes, squared error) points; and its ranges against its size,
    n(R), interpolated in log-log."""

    def __init__(self, points):
        # points: (ranges, bytes, squared error), at least two distinct sizes
        pts = sorted(points, key=lambda p: p[1])
        self.points = pts
        xs = [math.log(p[1]) for p in pts]
        usable = [p for p in pts if p[2] > 0]
        if len(usable) >= 2 and usable[0][1] != usable[-1][1]:
            lx = [math.log(p[1]) for p in usable]
            ly = [math.log(p[2]) for p in usable]
            mx, my = sum(lx) / len(lx), sum(ly) / len(ly)
            sxx = sum((x - mx) ** 2 for x in lx)
            slope = sum((x - mx) * (y - my) for x, y in zip(lx, ly)) / sxx
            self.b = -slope
            self.a = math.exp(my - slope * mx)
        else:
            self.b, self.a = 0.0, (usable[0][2] if usable else 0.0)
        self._xs = xs

    def flat(self):
        """More bytes buy (almost) nothing: a flat or already exact plane."""
        return self.a <= 0 or self.b <= 0.02

    def error(self, size):
        return self.a * size ** -self.b if not self.flat() else self.a

    def size_at_slope(self, slope):
        """The size at which -dD/dR equals `slope`."""
        return (self.a * self.b / slope) ** (1.0 / (self.b + 1.0))

    def ranges(self, size):
        """Ranges for `size` bytes, in log-log between (or beyond) the two
        nearest measured points."""
        pts = self.points
        if len(pts) == 1 or pts[0][1] == pts[-1][1]:
            return pts[0][0] * size / pts[0][1]
        lo, hi = pts[0], pts[-1]
        for p, q in zip(pts, pts[1:]):
            if size <= q[1]:
                lo, hi = p, q
                break
        t = (math.log(size) - math.log(lo[1])) / (math.log(hi[1]) - math.log(lo[1]))
        return math.exp(math.log(lo[0]) + t * (math.log(hi[0]) - math.log(lo[0])))


def equal_slope(models, weights, budget, smallest):
    """Sizes per plane that add up to `budget` bytes with equal weighted
    slopes w_p |dD_p/dR_p|; a flat plane keeps `smallest[p]`. Returns
    {plane: bytes}."""
    flat = {p for p, m in models.items() if m.flat()}
    sizes = {p: smallest[p] for p in flat}
    rest = budget - sum(sizes.values())
    live = [p for p in models if p not in flat]
    if not live:
        return sizes
    if rest <= sum(smallest[p] for p in live):
        sizes.update({p: smallest[p] for p in live})
        return sizes

    def spend(log_slope):
        return {p: max(smallest[p], models[p].size_at_slope(math.exp(log_slope) / weights[p])) for p in live}

    lo, hi = -80.0, 80.0  # the spend falls as the slope grows
    for _ in range(200):
        mid = (lo + hi) / 2
        if sum(spend(mid).values()) > rest:
            lo = mid
        else:
            hi = mid
    sizes.update(spend(hi))
    return sizes


def fixed_split(total_ranges):
    return {p: max(FEWEST_RANGES, int(round(total_ranges * FIXED_SHARES[p]))) for p in PLANES}


class ColourTrip:
    """Runs the colour example graphs on one picture inside a scratch folder."""

    def __init__(self, image, vorlan=None, work=None, up='bicubic', threads=2):
        self.vorlan = os.path.abspath(vorlan or default_vorlan())
        if not os.access(self.vorlan, os.X_OK):
            raise SystemExit(f'{self.vorlan} is not built (cmake --preset release && cmake --build --preset release)')
        self.work = work or tempfile.mkdtemp(prefix='vorlan-colour-')
        os.makedirs(self.work, exist_ok=True)
        self.original = os.path.abspath(image)
        self.threads = threads
        # cjpeg and the size need a BMP: other formats are converted first.
        with open(self.original, 'rb') as f:
            is_bmp = f.read(2) == b'BM'
        if is_bmp:
            self.bmp = self.original
        else:
            self.bmp = os.path.join(self.work, 'input.bmp')
            run([self.vorlan, '--run', os.path.join(HERE, 'convert.gph'), '--quiet', '--path',
                 f'source={self.original}', '--path', f'bmp={self.bmp}', '--path',
                 f'png={os.path.join(self.work, "input.png")}'], cwd=self.work)
        self.width, self.height = bmp_size(self.bmp)
        self.pixels = self.width * self.height
        self.compress_graph = os.path.join(self.work, 'compress_colour.gph')
        self.decompress_graph = os.path.join(self.work, 'decompress_colour.gph')
        self.probe_graph = os.path.join(self.work, 'probe.gph')
        self.compare_graph = os.path.join(self.work, 'compare.gph')
        make_colour.build_compress(threads=threads).save(self.compress_graph)
        make_colour.build_decompress(up).save(self.decompress_graph)
        make_colour.build_probe(threads=threads).save(self.probe_graph)
        make_colour.build_compare().save(self.compare_graph)

    def cleanup(self):
        shutil.rmtree(self.work, ignore_errors=True)

    @staticmethod
    def _sets(ranges):
        args = []
        for plane in PLANES:
            args += ['--set', f'{plane}.maxRanges={int(ranges[plane])}']
        return args

    def fractal(self, ranges, decoded=None):
        """One round trip with these ranges per plane."""
        container = os.path.join(self.work, 'image.hvc')
        decoded = decoded or os.path.join(self.work, 'decoded.png')
        start, cpu = time.monotonic(), children_cpu()
        run([self.vorlan, '--run', self.compress_graph, '--quiet', '--path', f'source={self.original}', '--path',
             f'target={container}'] + self._sets(ranges), cwd=self.work)
        encode, encode_cpu = time.monotonic() - start, children_cpu() - cpu
        start = time.monotonic()
        out = run([self.vorlan, '--run', self.decompress_graph, '--quiet', '--path', f'source={container}',
                   '--path', f'target={decoded}', '--path', f'original={self.original}'], cwd=self.work)
        decode = time.monotonic() - start
        size = os.path.getsize(container)
        point = {'bytes': size, 'bpp': size * 8 / self.pixels, 'ranges': dict(ranges), 'encode': encode,
                 'encode_cpu': encode_cpu, 'decode': decode, 'decoded': decoded}
        point.update(measured(shown(out)))
        return point

    def probe(self, ranges):
        """Each plane coded with `ranges[plane]` ranges: (ranges, bytes,
        squared error in 8-bit units at the plane's coded size) per plane."""
        out = run([self.vorlan, '--run', self.probe_graph, '--quiet', '--path', f'source={self.original}']
                  + self._sets(ranges), cwd=self.work)
        values = shown(out)
        return {p: (ranges[p], os.path.getsize(os.path.join(self.work, p + '.hvf')),
                    (255.0 * values['RMS ' + p]) ** 2) for p in PLANES}

    def split(self, target, progress=None):
        """Ranges per plane for a container near `target` bits per pixel, by
        equal slope on a first pass of two probes."""
        budget = target * self.pixels / 8
        guess = fixed_split(budget * 8 / BITS_PER_RANGE)
        points = {p: [] for p in PLANES}
        for scale in (0.6, 1.6):
            ranges = {p: max(FEWEST_RANGES, int(round(guess[p] * scale))) for p in PLANES}
            for p, point in self.probe(ranges).items():
                points[p].append(point)
            if progress:
                progress(ranges)
        return self.split_from(points, budget)

    @staticmethod
    def split_from(points, budget):
        models = {p: PowerLaw(points[p]) for p in PLANES}
        smallest = {p: models[p].points[0][1] * FEWEST_RANGES / models[p].points[0][0] for p in PLANES}
        sizes = equal_slope(models, RGB_WEIGHTS, budget, smallest)
        return {p: max(FEWEST_RANGES, int(round(models[p].ranges(sizes[p])))) for p in PLANES}

    def fractal_at_bpp(self, target, tolerance=0.03, tries=3, progress=None):
        """The equal-slope split, then encodes that scale all planes'
        ranges together until the container is near the target."""
        ranges = self.split(target, progress)
        tried = []
        for _ in range(tries):
            point = self.fractal(ranges)
            tried.append(point)
            if progress:
                progress(point)
            if abs(point['bpp'] - target) <= tolerance * target:
                break
            scale = target / point['bpp']
            ranges = {p: max(FEWEST_RANGES, int(round(n * scale))) for p, n in ranges.items()}
        best = min(tried, key=lambda p: abs(p['bpp'] - target))
        if best is not tried[-1]:
            best = self.fractal(best['ranges'])  # the decoded picture of the best
        return best, tried

    # Colour JPEG.
    def jpeg(self, quality):
        jpeg = os.path.join(self.work, f'q{quality}.jpg')
        ppm = os.path.join(self.work, f'q{quality}.ppm')
        start = time.monotonic()
        run(['cjpeg', '-optimize', '-quality', str(quality), '-outfile', jpeg, self.bmp])
        encode = time.monotonic() - start
        run(['djpeg', '-pnm', '-outfile', ppm, jpeg])
        out = run([self.vorlan, '--run', self.compare_graph, '--quiet', '--path', f'decoded={ppm}', '--path',
                   f'original={self.original}'], cwd=self.work)
        size = os.path.getsize(jpeg)
        point = {'quality': quality, 'bytes': size, 'bpp': size * 8 / self.pixels, 'encode': encode}
        point.update(measured(shown(out)))
        return point

    def jpeg_nearest(self, size):
        sizes = {}

        def size_at(q):
            if q not in sizes:
                jpeg = os.path.join(self.work, 'probe.jpg')
                run(['cjpeg', '-optimize', '-quality', str(q), '-outfile', jpeg, self.bmp])
                sizes[q] = os.path.getsize(jpeg)
            return sizes[q]

        return self.jpeg(nearest_quality(size_at, size))


def report(point, jpeg, pixels, target=None, attempts=None):
    r = point['ranges']
    lines = [
        f"compressed size  {point['bytes']} bytes",
        f"bits per pixel   {point['bpp']:.4f}" + (f"   (target {target:g}, {len(attempts)} encodes, "
                                                  f"{100 * (point['bpp'] - target) / target:+.1f} %)"
                                                  if target else ''),
        f"ratio            {pixels * 3 / point['bytes']:.2f} : 1 (against 24-bit RGB)",
        f"ranges           Y {r['Y']}, Cb {r['Cb']}, Cr {r['Cr']}",
        f"PSNR RGB         {point['psnr_rgb']:.2f} dB",
        f"PSNR Y           {point['psnr_y']:.2f} dB",
        f"compress time    {point['encode']:.2f} s",
        f"decompress time  {point['decode']:.2f} s",
    ]
    if jpeg:
        lines.append(f"JPEG             {jpeg['bytes']} bytes ({jpeg['bpp']:.4f} bpp, quality {jpeg['quality']}): "
                     f"RGB {jpeg['psnr_rgb']:.2f} dB, Y {jpeg['psnr_y']:.2f} dB; fractal "
                     f"{point['psnr_rgb'] - jpeg['psnr_rgb']:+.2f} dB RGB, {point['psnr_y'] - jpeg['psnr_y']:+.2f} dB Y")
    return '\n'.join(lines)


def summary(point, jpeg):
    """The figures scripts use, as one JSON object."""
    keep = ('bytes', 'bpp', 'psnr_rgb', 'psnr_y')
    out = {k: point[k] for k in keep}
    out['ranges'] = point['ranges']
    out['encode_seconds'] = point['encode']
    out['decode_seconds'] = point['decode']
    out['jpeg'] = {k: jpeg[k] for k in keep + ('quality',)} if jpeg else None
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('image')
    parser.add_argument('--bpp', type=float, help='target bits per pixel (splits the ranges by equal slope)')
    parser.add_argument('--threads', type=int, default=2)
    parser.add_argument('--output', help='keep the decoded picture (PNG) here')
    parser.add_argument('--json', action='store_true', help='print one JSON object instead of the report')
    parser.add_argument('--no-jpeg', action='store_true', help='skip the JPEG comparison')
    parser.add_argument('--up', choices=['bicubic', 'bilinear', 'fractal'], default='bicubic',
                        help='how the decoder brings Cb and Cr back to full size')
    args = parser.parse_args()
    if args.bpp is not None and not (args.bpp > 0 and math.isfinite(args.bpp)):
        parser.error('--bpp needs a positive number')
    if not args.no_jpeg and (shutil.which('cjpeg') is None or shutil.which('djpeg') is None):
        print('cjpeg/djpeg not found (Debian: libjpeg-turbo-progs): no JPEG comparison', file=sys.stderr)
        args.no_jpeg = True
    say = (lambda *a, **k: None) if args.json else print
    trip = ColourTrip(args.image, up=args.up, threads=args.threads)
    try:
        say(f'image            {trip.width} x {trip.height} ({trip.pixels} pixels), colour')
        attempts = None
        if args.bpp is not None:
            def progress(p):
                if 'bytes' in p:
                    say(f"  Y {p['ranges']['Y']}, Cb {p['ranges']['Cb']}, Cr {p['ranges']['Cr']}: "
                        f"{p['bpp']:.4f} bpp", flush=True)
                else:
                    say(f"  first pass: Y {p['Y']}, Cb {p['Cb']}, Cr {p['Cr']}", flush=True)
            point, attempts = trip.fractal_at_bpp(args.bpp, progress=progress)
        else:
            point = trip.fractal(make_colour.DEFAULT_RANGES)
        if args.output:
            shutil.copyfile(point['decoded'], os.path.abspath(args.output))
        jpeg = None if args.no_jpeg else trip.jpeg_nearest(point['bytes'])
        if args.json:
            print(json.dumps(summary(point, jpeg)))
        else:
            print(report(point, jpeg, trip.pixels, args.bpp, attempts))
            if args.output:
                print(f'decoded picture  {os.path.abspath(args.output)}')
    finally:
        trip.cleanup()


if __name__ == '__main__':
    main()
