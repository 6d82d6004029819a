"""Vorlan's own round trip driven through `vorlan --run`: a compress graph
turns a BMP into a container, a decompress graph turns it back into a
picture, and the container's size is steered to a target rate by the
encoder's number of ranges (`--set encoder.maxRanges=N`). A colour pair has
one encoder per plane; the number of ranges is then split between them in
fixed shares (COLOUR_SHARES).

The graphs follow the shipped pair's conventions: in both, the File Input
Stream is captioned `source` and the File Output Stream `target`; the
decompress graph may read the original again through `original` (its PSNR
display). Each run writes a `--report` record, which is kept with the point.
"""
from __future__ import annotations

import json
import math
import os
import shutil
import subprocess
import time
from dataclasses import dataclass, field
from typing import Callable, Optional, Sequence

import numpy as np

from . import pictures, rate_search
from .tools import RunFailed, check_status

# The rate field of the shipped grey pair, and of the colour pair: the
# encoders captioned Y, Cb and Cr, Y with most of the ranges (the split
# examples/colour_roundtrip.py uses without a first pass).
GREY_RATE_FIELDS = (('encoder.maxRanges', 1.0),)
COLOUR_SHARES = (('Y', 0.76), ('Cb', 0.12), ('Cr', 0.12))
COLOUR_RATE_FIELDS = tuple((f'{caption}.maxRanges', share) for caption, share in COLOUR_SHARES)


def split_ranges(total: int, fields: Sequence[tuple[str, float]]) -> list[str]:
    """`FIELD=N` settings that give each rate field its share of `total`
    ranges (at least one each)."""
    return [f'{name}={max(1, int(round(total * share)))}' for name, share in fields]


def default_vorlan() -> str:
    """VORLAN, else the vorlan on PATH."""
    return os.environ.get('VORLAN') or shutil.which('vorlan') or 'vorlan'


def graph_captions(vorlan: str, graph: str) -> set[str]:
    """The node captions of a graph file, read through `vorlan --convert`."""
    import tempfile

    with tempfile.TemporaryDirectory(prefix='vorlan-graph-') as work:
        text = os.path.join(work, 'graph.json')
        result = subprocess.run([vorlan, '--convert', graph, text], capture_output=True, text=True)
        if result.returncode != 0:
            raise RunFailed(f'{graph}: {(result.stderr or result.stdout).strip()}')
        with open(text, encoding='utf-8') as f:
            nodes = json.load(f).get('nodes', [])
    return {n['caption'] for n in nodes if isinstance(n.get('caption'), str)}


@dataclass
class Point:
    """One round trip: `size` bytes of container, `bpp` bits per pixel, the
    decoded 8-bit picture, both run times in seconds, the number of ranges
    asked for (None: the graph's own) and the two runs' report records."""
    size: int
    bpp: float
    decoded: np.ndarray = field(repr=False)
    encode_seconds: float
    decode_seconds: float
    max_ranges: Optional[int]
    reports: list[dict] = field(default_factory=list, repr=False)


@dataclass
class RoundTrip:
    """The compress/decompress pair as graph files in `work` (a folder the
    round trip owns while it runs: the picture, the container and the
    reports are written there). `settings` are `CAPTION.FIELD=VALUE` texts
    given to the compress run's --set, in order; `rate_fields` the fields
    that share a number of ranges; `colour` reads the decoded picture as
    RGB."""
    vorlan: str
    compress_graph: str
    decompress_graph: str
    work: str
    settings: Sequence[str] = ()
    rate_fields: Sequence[tuple[str, float]] = GREY_RATE_FIELDS
    original_caption: Optional[str] = 'original'
    colour: bool = False

    def _run(self, graph: str, paths: dict[str, str], settings: Sequence[str], report: str) -> tuple[float, dict]:
        command = [self.vorlan, '--run', graph, '--quiet', '--report', report]
        for caption, path in paths.items():
            command += ['--path', f'{caption}={path}']
        for text in settings:
            command += ['--set', text]
        start = time.perf_counter()
        result = subprocess.run(command, cwd=self.work, capture_output=True, text=True)
        seconds = time.perf_counter() - start
        record: dict = {}
        try:
            with open(report, encoding='utf-8') as f:
                record = json.load(f)
        except (OSError, ValueError):
            pass
        check_status(command, result.returncode,
                     record.get('outcome') or result.stderr or result.stdout)
        return seconds, _portable(record, self.work)

    def run(self, picture: str, max_ranges: Optional[int] = None) -> Point:
        """Compresses the BMP `picture` (a file in `work`) and decodes it
        again; with `max_ranges`, the encoders code that many ranges."""
        settings = list(self.settings)
        if max_ranges is not None:
            settings += split_ranges(max_ranges, self.rate_fields)
        container = os.path.join(self.work, 'code.bin')
        decoded = os.path.join(self.work, 'decoded.bmp')
        for stale in (container, decoded):
            if os.path.exists(stale):
                os.remove(stale)
        encode, compress = self._run(self.compress_graph, {'source': picture, 'target': container}, settings,
                                     os.path.join(self.work, 'compress.json'))
        paths = {'source': container, 'target': decoded}
        if self.original_caption:
            paths[self.original_caption] = picture
        decode, decompress = self._run(self.decompress_graph, paths, [],
                                       os.path.join(self.work, 'decompress.json'))
        size = os.path.getsize(container)
        try:
            out = pictures.load(decoded, colour=self.colour)
        except (OSError, ValueError) as error:
            raise RunFailed(f'the decompress graph wrote no readable picture: {error}') from error
        pixels = out.shape[0] * out.shape[1]
        return Point(size, size * 8.0 / pixels, out, encode, decode, max_ranges, [compress, decompress])

    def at_rate(self, picture: str, pixels: int, target_bpp: float, tolerance: float = 0.02, tries: int = 8,
                progress: Optional[Callable[[Point], None]] = None) -> tuple[Point, list[Point]]:
        """Searches the number of ranges for a container within `tolerance`
        (relative) of `target_bpp` bits per pixel, at most `tries` round
        trips (rate_search.search_count). Returns the nearest point and every
        point tried."""
        if not (target_bpp > 0 and math.isfinite(target_bpp)):
            raise ValueError(f'a positive target rate is needed, not {target_bpp}')
        tried: dict[int, Point] = {}

        def size_at(ranges: int) -> int:
            p = self.run(picture, ranges)
            tried[ranges] = p
            if progress:
                progress(p)
            return p.size

        best, _ = rate_search.search_count(size_at, target_bpp * pixels, tolerance, tries)
        return tried[best], list(tried.values())


# Keys of a run report that hold times rather than outcomes.
TIME_KEYS = ('started', 'wallSeconds', 'processorSeconds')


def _portable(record: dict, work: str) -> dict:
    """The report with the round trip's scratch folder cut from its paths, so
    that the same point gives the same record on any machine."""
    prefix = work.rstrip(os.sep) + os.sep

    def strip(value):
        if isinstance(value, str):
            return value[len(prefix):] if value.startswith(prefix) else value
        if isinstance(value, list):
            return [strip(v) for v in value]
        if isinstance(value, dict):
            return {k: strip(v) for k, v in value.items()}
        return value

    return strip(record)


def without_times(record):
    """A report record (or a list of them) without its time keys: what must
    agree between two runs of the same point."""
    if isinstance(record, list):
        return [without_times(r) for r in record]
    if isinstance(record, dict):
        return {k: without_times(v) for k, v in record.items() if k not in TIME_KEYS}
    return record

