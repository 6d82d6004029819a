"""The vorlan-sweep command: sweeps coders over pictures and settings, keeps
every point in an SQLite database, and reports BD-rate against an anchor."""
from __future__ import annotations

import argparse
import csv
import json
import math
import os
import signal
import subprocess
import sys
from functools import partial
from typing import Any, Optional, Sequence

import numpy as np

from . import codecs, pictures, store
from .cluster import DaskPool, LocalPool, default_jobs
from .fractal import COLOUR_SHARES, graph_captions
from .sweep import (CODEC_NAMES, DEFAULT_RATES, RIVALS, VERSION, VORLAN, Environment, GraphPair, Task, failed_row,
                    plan)
from .tools import RunFailed

PICTURE_SUFFIXES = {'.bmp', '.png', '.jpg', '.jpeg', '.pgm', '.ppm', '.pnm', '.pbm', '.tif', '.tiff', '.webp',
                    '.gif'}
EXIT_USAGE = 2
EXIT_STOPPED = 130

DESCRIPTION = '''\
Sweeps coders over a set of pictures: Vorlan's fractal round trip (its
number of ranges searched for each target rate, or a grid of its settings)
and rival codecs through their command-line tools (each hit to the rate by
bisection on its quality knob). Pictures are swept as grey unless --colour.
Every point is measured on the decoded 8-bit picture (bytes, bits per pixel,
PSNR, SSIM, encode and decode seconds) and kept as a row of an SQLite
database; a sweep run again computes only the rows that are missing. With
--report, writes BD-rate and BD-PSNR tables against an anchor codec,
rate-distortion plots and one HTML page.'''

EPILOG = '''\
Codecs: vorlan (the compress/decompress graphs), jpeg (cjpeg/djpeg), j2k
(opj_compress -I/opj_decompress, the 9/7 wavelet), j2k53 (opj_compress
without -I, the reversible 5/3 wavelet), webp (cwebp/dwebp), avif
(avifenc/avifdec), jxl (cjxl/djxl). A codec whose tools are missing is
reported once and skipped.

With --colour, colour pictures are swept in colour: Vorlan through the
colour graph pair (Y, Cb and Cr encoders sharing the ranges), the rivals on
RGB input; PSNR over the squared error of all three channels, SSIM the mean
of the channels', bits per pixel over pixels. Grey pictures (three equal
channels) are swept as grey still. Failed rows stay failed until
--retry-failed.

Exit status: 0 when the sweep (and report, export) finished, failed rows
included; 1 when the database, the cluster or the report cannot be used; 2
for a wrong command line; 130 when stopped (Ctrl+C, SIGTERM); running the
same command again resumes.

Environment: VORLAN names the vorlan program; VORLAN_EXAMPLES the folder of
the default graphs.'''


class Usage(Exception):
    """A wrong command line: one line of text, exit status 2."""


def _rates(text: str) -> list[float]:
    try:
        values = [float(v) for v in text.split(',') if v.strip()]
    except ValueError:
        raise Usage(f'--rates needs numbers separated by commas, not {text!r}') from None
    if not values or any(not (math.isfinite(v) and v > 0) for v in values):
        raise Usage(f'--rates needs positive bits per pixel, not {text!r}')
    return sorted(set(values))


def _grid(texts: Sequence[str]) -> list[tuple[str, list[str]]]:
    grid: list[tuple[str, list[str]]] = []
    for text in texts:
        name, sep, values = text.partition('=')
        caption, dot, fieldname = name.rpartition('.')
        if not sep or not dot or not caption or not fieldname:
            raise Usage(f'--grid needs CAPTION.FIELD=v1,v2,..., not {text!r}')
        items = [v.strip() for v in values.split(',') if v.strip()]
        if not items:
            raise Usage(f'--grid {name} has no values')
        if any(name == g for g, _ in grid):
            raise Usage(f'--grid names {name} twice')
        grid.append((name, list(dict.fromkeys(items))))
    return grid


class _Help(argparse.RawDescriptionHelpFormatter):
    def add_usage(self, usage, actions, groups, prefix=None):
        super().add_usage(usage, actions, groups, 'Usage: ' if prefix is None else prefix)


USAGE = """%(prog)s --images DIR|FILE... [OPTION]...
  or:  %(prog)s --db FILE [--report DIR] [--export csv|json]"""


def parser(defaults: dict[str, str]) -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog='vorlan-sweep', usage=USAGE, description=DESCRIPTION, epilog=EPILOG,
                                formatter_class=_Help)
    p._optionals.title = 'Options'
    p.add_argument('--images', nargs='+', metavar='DIR|FILE',
                   help='pictures to sweep: files in any format Pillow reads, or folders of them')
    p.add_argument('--rates', metavar='BPP,...',
                   help=f'target bits per pixel (default {",".join(map(str, DEFAULT_RATES))}); Vorlan within '
                        f'--tolerance, rivals within 1 %%')
    p.add_argument('--grid', action='append', default=[], metavar='CAPTION.FIELD=V1,V2,...',
                   help='sweep a setting of the compress graph over these values (repeatable: every '
                        'combination); without --rates each combination runs once as it is')
    p.add_argument('--graph', nargs=2, metavar=('COMPRESS', 'DECOMPRESS'),
                   help='the graph pair for vorlan (default: the shipped compress.gph and decompress.gph)')
    p.add_argument('--colour', action='store_true',
                   help='sweep colour pictures in colour (grey ones stay grey); default: everything as grey')
    p.add_argument('--colour-graph', nargs=2, metavar=('COMPRESS', 'DECOMPRESS'),
                   help='the graph pair for vorlan on colour pictures (default: the shipped '
                        'compress_colour.gph and decompress_colour.gph)')
    p.add_argument('--codecs', default=','.join(CODEC_NAMES), metavar='LIST',
                   help=f'codecs to sweep, separated by commas (default {",".join(CODEC_NAMES)})')
    p.add_argument('--db', default='sweep.sqlite', metavar='FILE', help='the results database (default %(default)s)')
    p.add_argument('--jobs', type=int, default=default_jobs(), metavar='N',
                   help='local worker processes (default: the number of cores)')
    p.add_argument('--scheduler', metavar='tcp://HOST:PORT', help='run on the workers of this Dask scheduler')
    p.add_argument('--threads', type=int, default=1, metavar='N',
                   help='encoder threads of each vorlan run (default 1)')
    p.add_argument('--tolerance', type=float, default=0.02, metavar='FRACTION',
                   help="how near Vorlan's rate must come to a target (default 0.02: 2 %%)")
    p.add_argument('--retry-failed', action='store_true',
                   help='compute failed rows again (without it, they are kept and skipped)')
    p.add_argument('--report', metavar='DIR', help='write BD tables, plots and index.html into DIR')
    p.add_argument('--anchor', default='jpeg', metavar='CODEC', help='the codec BD figures are against (default jpeg)')
    p.add_argument('--curve-field', metavar='CAPTION.FIELD',
                   help='for grid points without a target: the setting that runs along a curve '
                        '(default: the first --grid field, else encoder.maxRanges)')
    p.add_argument('--export', choices=('csv', 'json'), help='write the rows as CSV or JSON')
    p.add_argument('--output', metavar='FILE', help='where --export writes (default: standard output)')
    p.add_argument('--vorlan', default=os.environ.get('VORLAN') or defaults.get('vorlan'), metavar='PROGRAM',
                   help='the vorlan program (default: VORLAN, else the vorlan that came with vorlan-sweep)')
    p.add_argument('--quiet', action='store_true', help='no progress bar')
    p.add_argument('--version', action='version', version=f'vorlan-sweep {VERSION}')
    return p


def _picture_files(items: Sequence[str]) -> list[str]:
    files: list[str] = []
    for item in items:
        if os.path.isdir(item):
            for entry in sorted(os.listdir(item)):
                path = os.path.join(item, entry)
                if (not entry.startswith('.') and os.path.isfile(path)
                        and os.path.splitext(entry)[1].lower() in PICTURE_SUFFIXES):
                    files.append(path)
        elif os.path.exists(item):
            files.append(item)
        else:
            raise Usage(f'{item}: no such file or folder')
    if not files:
        raise Usage('--images names no pictures')
    return files


def _file_hash(path: str) -> str:
    import hashlib

    digest = hashlib.sha256(b'vorlan-file\n')
    with open(path, 'rb') as f:
        for chunk in iter(lambda: f.read(1 << 20), b''):
            digest.update(chunk)
    return 'file-' + digest.hexdigest()


def _vorlan_version(vorlan: str) -> Optional[str]:
    try:
        result = subprocess.run([vorlan, '--version'], capture_output=True, text=True, timeout=60)
    except OSError:
        return None
    if result.returncode != 0:
        return None
    line = result.stdout.strip().splitlines()
    return line[0] if line else 'vorlan'


class Sweep:
    """One invocation's sweep: the pictures read, the codecs available, the
    tasks planned, and the database they land in."""

    def __init__(self, args: argparse.Namespace, defaults: dict[str, str], log):
        self.args = args
        self.log = log
        self.rates = _rates(args.rates) if args.rates else list(DEFAULT_RATES)
        self.grid = _grid(args.grid)
        names = [c.strip() for c in args.codecs.split(',') if c.strip()]
        unknown = [c for c in names if c not in CODEC_NAMES]
        if unknown or not names:
            raise Usage(f'unknown codec {unknown[0] if unknown else "(none)"}; use some of {",".join(CODEC_NAMES)}')
        self.codecs = list(dict.fromkeys(names))
        if args.jobs < 1 or args.threads < 1:
            raise Usage('--jobs and --threads need a positive number')
        if not (0 < args.tolerance < 1):
            raise Usage('--tolerance needs a fraction between 0 and 1')
        self.env: Optional[Environment] = None
        self.program = f'vorlan-sweep {VERSION}'
        if VORLAN in self.codecs:
            self._prepare_vorlan(defaults)
        for name in list(self.codecs):
            if name in RIVALS:
                absent = codecs.CODECS[RIVALS[name]].missing()
                if absent:
                    self.log(f'vorlan-sweep: {absent}; {name} is skipped')
                    self.codecs.remove(name)
        if self.env is None:
            self.env = Environment('', GraphPair(b'', b''), program=self.program)
        self.files = _picture_files(args.images)

    def _read_pair(self, vorlan: str, paths: Sequence[str]) -> tuple[list[bytes], list[set[str]]]:
        """The bytes and node captions of a compress/decompress pair; a pair
        whose file streams are not captioned source and target is refused."""
        graphs = []
        for path in paths:
            try:
                with open(path, 'rb') as f:
                    graphs.append(f.read())
            except OSError as error:
                raise Usage(f'{path}: {error.strerror}') from None
        try:
            captions = [graph_captions(vorlan, path) for path in paths]
        except RunFailed as error:
            raise Usage(str(error)) from None
        for need in ('source', 'target'):
            for path, found in zip(paths, captions):
                if need not in found:
                    raise Usage(f'{path} has no node captioned {need!r} (its file streams must be captioned '
                                f'source and target)')
        return graphs, captions

    def _check_grid(self, compress: str, captions: set[str], encoders: Sequence[str]) -> None:
        for name, _ in self.grid:
            caption = name.rpartition('.')[0]
            if caption not in captions and not (caption == 'encoder' and encoders):
                raise Usage(f'--grid {name}: {compress} has no node captioned {caption!r} '
                            f'(captions: {", ".join(sorted(captions))})')

    def _prepare_vorlan(self, defaults: dict[str, str]) -> None:
        args = self.args
        vorlan = args.vorlan or 'vorlan'
        version = _vorlan_version(vorlan)
        if version is None:
            self.log(f'vorlan-sweep: {vorlan} does not run (install Vorlan or give --vorlan); vorlan is skipped')
            self.codecs.remove(VORLAN)
            return
        examples = os.environ.get('VORLAN_EXAMPLES') or defaults.get('examples', '')
        paths = args.graph or (os.path.join(examples, 'compress.gph'), os.path.join(examples, 'decompress.gph'))
        graphs, captions = self._read_pair(vorlan, paths)
        self._check_grid(paths[0], captions[0], [])
        ranges = [name for name, _ in self.grid if name.endswith('.maxRanges')]
        if ranges and (args.rates or not self.grid):
            raise Usage(f'--grid {ranges[0]} and --rates both set the number of ranges')
        grey = GraphPair(graphs[0], graphs[1], 'original' if 'original' in captions[1] else None,
                         threads='encoder' in captions[0])
        colour = None
        if args.colour:
            paths = args.colour_graph or (os.path.join(examples, 'compress_colour.gph'),
                                          os.path.join(examples, 'decompress_colour.gph'))
            graphs, captions = self._read_pair(vorlan, paths)
            planes = [caption for caption, _ in COLOUR_SHARES]
            absent = [p for p in planes if p not in captions[0]]
            if absent:
                raise Usage(f'{paths[0]} has no encoder captioned {", ".join(absent)} (a colour compress graph '
                            f'codes the planes with encoders captioned {", ".join(planes)})')
            self._check_grid(paths[0], captions[0], planes)
            colour = GraphPair(graphs[0], graphs[1], 'original' if 'original' in captions[1] else None,
                               COLOUR_SHARES, threads=True, colour=True)
        self.program = f'vorlan-sweep {VERSION}; {version}'
        self.env = Environment(os.path.abspath(vorlan) if os.path.sep in vorlan else vorlan, grey, colour,
                               args.threads, args.tolerance, program=self.program)

    def load(self) -> tuple[list[Task], dict[str, Any], list[dict]]:
        """Reads the pictures and plans the tasks: returns the tasks, the
        samples by content hash, and the failed rows of pictures that could
        not be read. With --colour a picture whose channels are all equal
        is swept as grey: the same rows as a sweep without --colour."""
        samples: dict[str, Any] = {}
        readable: dict[bool, list[tuple[str, str]]] = {False: [], True: []}
        damaged: list[dict] = []
        plan_of = partial(plan, codec_names=self.codecs, rates=self.rates, grid=self.grid,
                          grid_rates=bool(self.args.rates))
        greys = []
        for path in self.files:
            name = os.path.basename(path)
            try:
                pixels = pictures.load(path, colour=self.args.colour)
            except (ValueError, OSError) as error:
                digest = _file_hash(path)
                for task in plan_of([(digest, name)], colour=self.args.colour):
                    damaged.append(failed_row(task, None, self.program, str(error)))
                continue
            colour = self.args.colour and not pictures.is_grey(pixels)
            if self.args.colour and not colour:
                pixels = np.ascontiguousarray(pixels[..., 0])
                greys.append(name)
            digest = pictures.content_hash(pixels)
            if digest not in samples:
                samples[digest] = pixels
                readable[colour].append((digest, name))
        if greys:
            self.log(f'vorlan-sweep: {len(greys)} grey picture{"s" if len(greys) > 1 else ""} swept as grey: '
                     f'{", ".join(greys[:5])}{", ..." if len(greys) > 5 else ""}')
        tasks = plan_of(readable[False]) + plan_of(readable[True], colour=True)
        tasks.sort(key=lambda t: t.codec != VORLAN)
        return tasks, samples, damaged


def _progress(total: int, quiet: bool):
    if quiet or total == 0:
        return None
    from tqdm import tqdm

    return tqdm(total=total, unit='row', desc='vorlan-sweep', file=sys.stderr, dynamic_ncols=True,
                smoothing=0.1)


def run_sweep(sweep: Sweep, db: store.Store, log) -> tuple[list[str], int]:
    """Computes the missing rows; returns every key of the sweep and the
    number of rows computed now."""
    tasks, samples, damaged = sweep.load()
    keys = [t.key for t in tasks] + [r['key'] for r in damaged]
    stored = db.statuses(keys)

    def wanted(key: str) -> bool:
        return key not in stored or (sweep.args.retry_failed and stored[key] == 'failed')

    unreadable = [row for row in damaged if wanted(row['key'])]
    todo = [t for t in tasks if wanted(t.key)]
    already = len(keys) - len(todo) - len(unreadable)
    # Failed rows failed for a reason of their own (a transient fault of the
    # cluster stores no row): computing them again would fail again until
    # the user has mended the picture or the tool.
    skipped = 0 if sweep.args.retry_failed else sum(1 for k in set(keys) if stored.get(k) == 'failed')
    if already:
        log(f'vorlan-sweep: {already} of {len(keys)} rows are already in {sweep.args.db}' +
            (f', {skipped} of them failed' if skipped else ''))
    skipped_note = (f'{skipped} failed row{"s" if skipped != 1 else ""} skipped '
                    f'(--retry-failed computes {"them" if skipped != 1 else "it"} again)') if skipped else ''
    for row in unreadable:
        db.put(row)
    computed = failed = len(unreadable)
    if not todo:
        if computed or skipped:
            log('vorlan-sweep: ' + '; '.join(
                ([f'{computed} rows computed ({failed} failed)'] if computed else []) +
                ([skipped_note] if skipped else [])))
        return keys, computed
    if sweep.args.scheduler:
        try:
            pool = DaskPool(sweep.args.scheduler, sweep.env, log)
        except (ConnectionError, OSError, ValueError) as error:
            raise RuntimeError(str(error)) from error
    else:
        pool = LocalPool(min(sweep.args.jobs, len(todo)), sweep.env, log)
    bar = _progress(len(todo), sweep.args.quiet)

    def postfix() -> None:
        parts = ([f'{failed} failed'] if failed else []) + ([f'{skipped} failed skipped'] if skipped else [])
        if parts:
            bar.set_postfix_str(', '.join(parts), refresh=False)

    if bar is not None:
        postfix()
    results = pool.results(todo, samples)
    try:
        for task, row in results:
            if row is not None:
                db.put(row)
                computed += 1
                failed += row['status'] == 'failed'
            if bar is not None:
                postfix()
                bar.update(1)
    finally:
        results.close()
        pool.close()
        if bar is not None:
            bar.close()
    left = len(todo) + len(unreadable) - computed
    log(f'vorlan-sweep: {computed} rows computed ({failed} failed)' +
        (f', {left} left for the next run' if left else '') + (f'; {skipped_note}' if skipped else ''))
    return keys, computed


def export(rows: list[dict], kind: str, output: Optional[str]) -> None:
    out = open(output, 'w', encoding='utf-8', newline='') if output else sys.stdout
    try:
        if kind == 'csv':
            writer = csv.DictWriter(out, fieldnames=list(store.NAMES))
            writer.writeheader()
            writer.writerows(rows)
        else:
            def clean(value):
                return None if isinstance(value, float) and not math.isfinite(value) else value

            records = [{k: clean(v) for k, v in r.items()} for r in rows]
            for r in records:
                if r.get('runs'):
                    r['runs'] = json.loads(r['runs'])
                r['settings'] = json.loads(r['settings'])
            json.dump({'format': 'vorlan-sweep-rows', 'version': 1, 'rows': records}, out, indent=1,
                      ensure_ascii=False)
            out.write('\n')
    finally:
        if output:
            out.close()


def main(argv: Optional[Sequence[str]] = None, defaults: Optional[dict[str, str]] = None) -> int:
    defaults = defaults or {}
    args = parser(defaults).parse_args(argv)

    def log(text: str) -> None:
        print(text, file=sys.stderr, flush=True)

    def stop(number, frame):
        raise KeyboardInterrupt

    previous = {number: signal.signal(number, stop) for number in (signal.SIGTERM, signal.SIGHUP)}
    try:
        if not (args.images or args.report or args.export):
            raise Usage('nothing to do: give --images to sweep, or --report / --export for a database')
        if args.anchor not in CODEC_NAMES:
            raise Usage(f'--anchor {args.anchor}: use one of {",".join(CODEC_NAMES)}')
        sweep = Sweep(args, defaults, log) if args.images else None
        if sweep is None and not os.path.exists(args.db):
            raise Usage(f'{args.db}: no such database')
        with store.Store(args.db) as db:
            keys = None
            if sweep is not None:
                keys, _ = run_sweep(sweep, db, log)
            if args.export:
                export(list(db.rows(keys)), args.export, args.output)
            if args.report:
                from . import report

                axis = args.curve_field or (sweep.grid[0][0] if sweep is not None and sweep.grid
                                            else 'encoder.maxRanges')
                page = report.write(list(db.rows(keys)), args.report, args.anchor, axis)
                log(f'vorlan-sweep: report in {page}')
    except Usage as error:
        print(f'vorlan-sweep: {error}', file=sys.stderr)
        print("Try 'vorlan-sweep --help' for more information.", file=sys.stderr)
        return EXIT_USAGE
    except KeyboardInterrupt:
        log('vorlan-sweep: stopped; the finished rows are kept, and the same command resumes')
        return EXIT_STOPPED
    except (store.StoreError, RuntimeError, OSError) as error:
        log(f'vorlan-sweep: {error}')
        return 1
    finally:
        for number, handler in previous.items():
            signal.signal(number, handler)
    return 0


if __name__ == '__main__':
    sys.exit(main())
