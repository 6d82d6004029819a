#!/usr/bin/env python3
"""One fractal round trip on a BMP, JPEG at the nearest file size, and a
search for the number of ranges that hits a target rate.

  fractal_roundtrip.py IMAGE.bmp [--bpp TARGET] [--max-ranges N] [--output OUT.bmp] [--json]

prints size, bits per pixel, PSNR (of the written 8-bit picture) and times of
the fractal code, then JPEG's (cjpeg -grayscale / djpeg) PSNR at the file
size nearest to it; with --json, one JSON object with those figures. Used by
examples/demo.sh and bench/rd/rate_distortion.py. VORLAN names the program
(default build/release/vorlan beside this folder, else the vorlan on PATH).

The stages (graph writing, compressing, decompressing, measuring JPEG) are
separate functions so that a different container or image reader can be
dropped in.
"""
import argparse
import json
import math
import os
import resource
import shutil
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_fractal  # noqa: E402

# The rate search of the workbench package: installed where python3 finds it, or
# in the source tree's python/ folder next to this one.
sys.path.append(os.path.join(HERE, '..', 'python'))
from vorlan_workbench.rate_search import BITS_PER_RANGE, search_count  # noqa: E402


def default_vorlan():
    """VORLAN, else the source tree's build/release/vorlan, else the vorlan on
    PATH (the installed examples)."""
    if 'VORLAN' in os.environ:
        return os.environ['VORLAN']
    built = os.path.join(HERE, '..', 'build', 'release', 'vorlan')
    if os.path.exists(built):
        return built
    return shutil.which('vorlan') or built


def children_cpu():
    """Processor seconds (user and system) of the finished child processes."""
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def run(command, cwd=None):
    # Runs in the scratch folder so that nothing a graph writes lands elsewhere.
    result = subprocess.run(command, capture_output=True, text=True, cwd=cwd)
    if result.returncode != 0:
        raise RuntimeError(f'{" ".join(command)} failed ({result.returncode}): {result.stdout}{result.stderr}')
    return result.stdout


def bmp_size(path):
    with open(path, 'rb') as f:
        header = f.read(30)
    if len(header) < 30 or header[:2] != b'BM':
        raise SystemExit(f'{path}: not a BMP file')
    width, height = struct.unpack_from('<ii', header, 18)
    return width, abs(height)


def read_bmp_grey(path):
    """Y = 0.299 R + 0.587 G + 0.114 B of a 24-bit BMP, top row first."""
    data = open(path, 'rb').read()
    offset = struct.unpack_from('<I', data, 10)[0]
    width, height = struct.unpack_from('<ii', data, 18)
    bits = struct.unpack_from('<H', data, 28)[0]
    if bits != 24:
        raise SystemExit(f'{path}: a 24-bit BMP is needed, not {bits}-bit')
    stride = (width * 3 + 3) & ~3
    grey = []
    for r in range(abs(height)):
        row = r if height < 0 else abs(height) - 1 - r
        line = data[offset + row * stride:offset + row * stride + width * 3]
        grey.extend(0.299 * line[3 * c + 2] + 0.587 * line[3 * c + 1] + 0.114 * line[3 * c] for c in range(width))
    return grey


def read_pgm(path):
    data = open(path, 'rb').read()
    fields = []
    i = 0
    while len(fields) < 4:
        while data[i:i + 1].isspace():
            i += 1
        if data[i:i + 1] == b'#':
            while data[i:i + 1] != b'\n':
                i += 1
            continue
        j = i
        while not data[j:j + 1].isspace():
            j += 1
        fields.append(data[i:j])
        i = j
    width, height = int(fields[1]), int(fields[2])
    return list(data[i + 1:i + 1 + width * height])


def psnr(a, b, peak=255.0):
    mse = sum((x - y) ** 2 for x, y in zip(a, b)) / len(a)
    return float('inf') if mse == 0 else 20 * math.log10(peak / math.sqrt(mse))


def nearest_quality(size_at, size):
    """The JPEG quality 1..100 whose file size, size_at(q), comes nearest to
    `size` bytes: sizes grow with the quality, so a bisection finds it."""
    lo, hi = 1, 100
    while hi - lo > 1:
        mid = (lo + hi) // 2
        if size_at(mid) < size:
            lo = mid
        else:
            hi = mid
    return min((lo, hi), key=lambda q: abs(size_at(q) - size))

class RoundTrip:
    """Runs the example graphs on one image inside a scratch folder."""

    def __init__(self, image, vorlan=None, work=None, decompress_options=None, container='packed'):
        self.image = os.path.abspath(image)
        self.vorlan = os.path.abspath(vorlan or default_vorlan())
        if not os.access(self.vorlan, os.X_OK):
            raise SystemExit(f'{self.vorlan} is not built (cmake --preset release && cmake --build --preset release)')
        width, height = bmp_size(self.image)
        self.pixels = width * height
        self.work = work or tempfile.mkdtemp(prefix='vorlan-rd-')
        self.decompress_options = decompress_options or {}
        self.container = container  # a key of make_fractal.CONTAINERS
        self._grey = None

    def cleanup(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def grey(self):
        if self._grey is None:
            self._grey = read_bmp_grey(self.image)
        return self._grey

    # Stages.
    def write_graphs(self, encoder_options):
        compress = os.path.join(self.work, 'compress.gph')
        decompress = os.path.join(self.work, 'decompress.gph')
        make_fractal.build_compress(self.container, **encoder_options).save(compress)
        make_fractal.build_decompress(container=self.container, **self.decompress_options).save(decompress)
        return compress, decompress

    def compress(self, graph, container):
        run([self.vorlan, '--run', graph, '--quiet', '--path', f'source={self.image}',
             '--path', f'target={container}'], cwd=self.work)

    def decompress(self, graph, container, decoded):
        out = run([self.vorlan, '--run', graph, '--quiet', '--path', f'source={container}',
                   '--path', f'target={decoded}', '--path', f'original={self.image}'], cwd=self.work)
        return dict(line.split('\t')[:2] for line in out.splitlines() if line.count('\t') >= 1)

    def fractal(self, decoded=None, **encoder_options):
        """One round trip: size, bpp, PSNR (dB) and both times (s)."""
        compress, decompress = self.write_graphs(encoder_options)
        container = os.path.join(self.work, 'image.hvf')
        decoded = decoded or os.path.join(self.work, f"decoded-{encoder_options.get('max_ranges', 0)}.bmp")
        start, cpu = time.monotonic(), children_cpu()
        self.compress(compress, container)
        encode, encode_cpu = time.monotonic() - start, children_cpu() - cpu
        start = time.monotonic()
        shown = self.decompress(decompress, container, decoded)
        decode = time.monotonic() - start
        size = os.path.getsize(container)
        # The PSNR of what the user gets, the written 8-bit picture, against
        # the source's grey (as JPEG's is measured); the graph's own figure
        # is that of the decoded plane before it is rounded.
        return {'size': size, 'bpp': size * 8 / self.pixels, 'psnr': psnr(self.grey(), read_bmp_grey(decoded)),
                'psnr_plane': float(shown.get('PSNR', 'nan')), 'rms': shown.get('RMS'), 'encode': encode,
                'encode_cpu': encode_cpu,
                'decode': decode, 'options': dict(encoder_options), 'decoded': decoded}

    def jpeg(self, quality):
        jpeg = os.path.join(self.work, f'q{quality}.jpg')
        pgm = os.path.join(self.work, f'q{quality}.pgm')
        start = time.monotonic()
        run(['cjpeg', '-grayscale', '-quality', str(quality), '-outfile', jpeg, self.image])
        encode = time.monotonic() - start
        run(['djpeg', '-pnm', '-outfile', pgm, jpeg])
        size = os.path.getsize(jpeg)
        return {'quality': quality, 'size': size, 'bpp': size * 8 / self.pixels, 'encode': encode,
                'psnr': psnr(self.grey(), read_pgm(pgm))}

    def jpeg_nearest(self, size):
        """JPEG at the quality whose file size comes nearest to `size` bytes
        (sizes grow with the quality, so a bisection finds it)."""
        sizes = {}

        def size_at(q):
            if q not in sizes:
                jpeg = os.path.join(self.work, 'probe.jpg')
                run(['cjpeg', '-grayscale', '-quality', str(q), '-outfile', jpeg, self.image])
                sizes[q] = os.path.getsize(jpeg)
            return sizes[q]

        return self.jpeg(nearest_quality(size_at, size))

    def fractal_at_bpp(self, target, tolerance=0.02, tries=4, progress=None, bits_per_range=BITS_PER_RANGE,
                       **encoder_options):
        """Searches maxRanges so that the container lands near `target` bits
        per pixel (rate_search.search_count). Returns the closest point and
        every point tried."""
        tried = {}

        def size_at(ranges):
            p = self.fractal(max_ranges=ranges, **encoder_options)
            tried[ranges] = p
            if progress:
                progress(p)
            return p['size']

        best, _ = search_count(size_at, target * self.pixels, tolerance, tries, bits_per_range)
        return tried[best], list(tried.values())


def report(point, jpeg, pixels, target=None, attempts=None):
    lines = [
        f"compressed size  {point['size']} bytes",
        f"bits per pixel   {point['bpp']:.4f}" + (f"   (target {target:g}, {len(attempts)} encodes, "
                                                  f"{100 * (point['bpp'] - target) / target:+.1f} %)"
                                                  if target else ''),
        f"ratio            {pixels / point['size']:.2f} : 1 (against 8-bit grey)",
        f"ranges           {point['options'].get('max_ranges')}",
        f"PSNR             {point['psnr']:.2f} dB",
        f"RMS              {point['rms']} (of the [0, 1] grey range)",
        f"compress time    {point['encode']:.2f} s",
        f"decompress time  {point['decode']:.2f} s",
    ]
    if jpeg:
        lines.append(f"JPEG             {jpeg['size']} bytes ({jpeg['bpp']:.4f} bpp, quality {jpeg['quality']}): "
                     f"{jpeg['psnr']:.2f} dB, fractal {point['psnr'] - jpeg['psnr']:+.2f} dB")
    return '\n'.join(lines)


def summary(point, jpeg):
    """The figures scripts use, as one JSON object."""
    out = {'bytes': point['size'], 'bpp': point['bpp'], 'psnr': point['psnr'],
           'ranges': point['options'].get('max_ranges'), 'encode_seconds': point['encode'],
           'decode_seconds': point['decode']}
    out['jpeg'] = ({'bytes': jpeg['size'], 'bpp': jpeg['bpp'], 'psnr': jpeg['psnr'], 'quality': jpeg['quality']}
                   if jpeg else None)
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('image')
    parser.add_argument('--bpp', type=float, help='target bits per pixel (searches the number of ranges)')
    parser.add_argument('--max-ranges', type=int, default=make_fractal.DEFAULT_MAX_RANGES)
    parser.add_argument('--threads', type=int, default=2)
    parser.add_argument('--output', help='keep the decoded picture here')
    parser.add_argument('--no-jpeg', action='store_true', help='skip the JPEG comparison')
    parser.add_argument('--json', action='store_true', help='print one JSON object instead of the report')
    parser.add_argument('--container', default='packed', choices=sorted(make_fractal.CONTAINERS),
                        help='how the code is stored (default: the HV code packer)')
    args = parser.parse_args()
    if args.bpp is not None and not (args.bpp > 0 and math.isfinite(args.bpp)):
        parser.error('--bpp needs a positive number')
    if args.max_ranges < 1:
        parser.error('--max-ranges needs a positive number')
    if not args.no_jpeg and shutil.which('cjpeg') is None:
        print('cjpeg/djpeg not found (Debian: libjpeg-turbo-progs): no JPEG comparison', file=sys.stderr)
        args.no_jpeg = True
    trip = RoundTrip(args.image, container=args.container)
    try:
        say = (lambda *a, **k: None) if args.json else print
        width, height = bmp_size(trip.image)
        say(f'image            {width} x {height} ({trip.pixels} pixels)')
        attempts = None
        if args.bpp is not None:
            point, attempts = trip.fractal_at_bpp(
                args.bpp, threads=args.threads,
                progress=lambda p: say(f"  {p['options']['max_ranges']} ranges: {p['bpp']:.4f} bpp", flush=True))
            if args.output:
                shutil.copyfile(point['decoded'], os.path.abspath(args.output))
        else:
            point = trip.fractal(decoded=os.path.abspath(args.output) if args.output else None,
                                 max_ranges=args.max_ranges, threads=args.threads)
        jpeg = None if args.no_jpeg else trip.jpeg_nearest(point['size'])
        if args.json:
            print(json.dumps(summary(point, jpeg)))
            return
        print(report(point, jpeg, trip.pixels, args.bpp, attempts))
        if args.output:
            print(f'decoded picture  {os.path.abspath(args.output)}')
    finally:
        trip.cleanup()


if __name__ == '__main__':
    main()
