"""What a sweep computes: pictures x codecs x settings x targets, one row
each, and the function a worker runs for one of them.

A Task names its point; the picture's samples travel beside it (a worker
may have no access to the client's files) and so do the graph files' bytes.
`compute` returns the row to store, a 'failed' row when the point itself
fails, and raises RunInterrupted when the work was only stopped.
"""
from __future__ import annotations

import contextlib
import itertools
import json
import os
import shutil
import signal
import tempfile
from dataclasses import dataclass, field
from datetime import datetime, timezone
from typing import Any, Optional, Sequence

import numpy as np

from . import codecs, metrics, pictures, store
from .fractal import RoundTrip
from .tools import RunFailed, RunInterrupted

VERSION = '1.0'
DEFAULT_RATES = (0.125, 0.25, 0.5, 1.0)
VORLAN = 'vorlan'

# Codec names on the command line and in the database, and the rival each
# one drives (codecs.CODECS).
RIVALS = {'jpeg': 'jpeg', 'j2k': 'jpeg2000', 'j2k53': 'jpeg2000-53', 'webp': 'webp', 'avif': 'avif',
          'jxl': 'jpegxl'}
CODEC_NAMES = (VORLAN,) + tuple(RIVALS)
LABELS = {VORLAN: 'Vorlan', **{name: codecs.CODECS[rival].label for name, rival in RIVALS.items()}}


@dataclass(frozen=True)
class GraphPair:
    """A compress/decompress pair as the sweep drives it: the graphs' bytes
    (written into each task's scratch folder), the caption of the decompress
    graph's original input (None when it has none), the captions of the
    compress graph's encoders with each one's share of the ranges, whether
    those encoders have a thread count to set, and whether the pair codes
    colour (RGB in, RGB out)."""
    compress: bytes = field(repr=False)
    decompress: bytes = field(repr=False)
    original_caption: Optional[str] = 'original'
    encoders: tuple[tuple[str, float], ...] = (('encoder', 1.0),)
    threads: bool = True
    colour: bool = False

    @property
    def rate_fields(self) -> tuple[tuple[str, float], ...]:
        return tuple((f'{caption}.maxRanges', share) for caption, share in self.encoders)

    def expand(self, settings: dict[str, str]) -> dict[str, str]:
        """`settings` for this pair's graph: a field of `encoder` that the
        graph has no node of goes to every encoder of the pair (so that
        `--grid encoder.stepX=...` reaches Y, Cb and Cr of the colour pair)."""
        captions = [caption for caption, _ in self.encoders]
        out: dict[str, str] = {}
        for name, value in settings.items():
            caption, _, fieldname = name.rpartition('.')
            if caption == 'encoder' and 'encoder' not in captions:
                out.update((f'{c}.{fieldname}', value) for c in captions)
            else:
                out[name] = value
        return out


@dataclass(frozen=True)
class Environment:
    """What every task of a sweep shares: the vorlan program, the grey graph
    pair and the colour one (None: colour pictures are not swept in colour),
    the encoder threads per run, the rate search's tolerance and tries, and
    the program versions written into each row."""
    vorlan: str
    grey: GraphPair
    colour: Optional[GraphPair] = None
    threads: int = 1
    tolerance: float = 0.02
    tries: int = 8
    program: str = f'vorlan-sweep {VERSION}'


@dataclass(frozen=True)
class Task:
    """One point: a picture (by content hash), a codec, its settings
    (CAPTION.FIELD -> value text, Vorlan only) and a target rate in bits per
    pixel (None: the settings alone fix the point). `colour`: the picture is
    swept in colour (its samples are RGB), which makes it another point
    than the same file swept as grey."""
    key: str
    picture: str
    name: str
    codec: str
    settings: tuple[tuple[str, str], ...]
    target: Optional[float]
    colour: bool = False

    @property
    def settings_dict(self) -> dict[str, str]:
        return dict(self.settings)


def make_task(picture: str, name: str, codec: str, settings: dict[str, str], target: Optional[float],
              colour: bool = False) -> Task:
    key = store.row_key(picture, colour, codec, settings, target)
    return Task(key, picture, name, codec, tuple(sorted(settings.items())), target, colour)


def grid_points(grid: Sequence[tuple[str, Sequence[str]]]) -> list[dict[str, str]]:
    """Every combination of the grid's values, the first field varying
    slowest; one empty combination for an empty grid."""
    if not grid:
        return [{}]
    names = [name for name, _ in grid]
    return [dict(zip(names, values)) for values in itertools.product(*(v for _, v in grid))]


def plan(pictures_: Sequence[tuple[str, str]], codec_names: Sequence[str], rates: Sequence[float],
         grid: Sequence[tuple[str, Sequence[str]]], grid_rates: bool, colour: bool = False) -> list[Task]:
    """The tasks of a sweep over (hash, name) pictures. Rivals are measured at
    `rates`; Vorlan at every grid combination, each hit to every rate when
    `grid_rates` (or when there is no grid), else run as it is. Vorlan's
    (longest) tasks come first, so that a pool ends with short ones."""
    combos = grid_points(grid)
    tasks: list[Task] = []
    for digest, name in pictures_:
        for codec in codec_names:
            if codec != VORLAN:
                tasks += [make_task(digest, name, codec, {}, r, colour) for r in rates]
            elif grid and not grid_rates:
                tasks += [make_task(digest, name, codec, c, None, colour) for c in combos]
            else:
                tasks += [make_task(digest, name, codec, c, r, colour) for c in combos for r in rates]
    tasks.sort(key=lambda t: t.codec != VORLAN)
    return tasks


def _base_row(task: Task, pixels: Optional[np.ndarray], program: str) -> dict[str, Any]:
    return {
        'key': task.key, 'picture': task.picture, 'name': task.name,
        'width': None if pixels is None else int(pixels.shape[1]),
        'height': None if pixels is None else int(pixels.shape[0]),
        'colour': int(task.colour), 'codec': task.codec,
        'settings': store.canonical_settings(task.settings_dict), 'target': task.target,
        'program': program,
    }


def _now() -> str:
    return datetime.now(timezone.utc).isoformat(timespec='seconds')


def failed_row(task: Task, pixels: Optional[np.ndarray], program: str, reason: str) -> dict[str, Any]:
    row = _base_row(task, pixels, program)
    row.update(status='failed', reason=reason, finished=_now())
    return row


def _measured(row: dict[str, Any], original: np.ndarray, decoded: np.ndarray, size: int) -> dict[str, Any]:
    if decoded.shape != original.shape:
        raise RunFailed(f'the decoded picture is {decoded.shape}, the original {original.shape}')
    pixels = original.shape[0] * original.shape[1]  # bits per pixel, not per sample
    row.update(status='done', reason=None, bytes=int(size), bpp=size * 8.0 / pixels,
               psnr=metrics.psnr(decoded, original), ssim=metrics.ssim(decoded, original), finished=_now())
    return row


def _vorlan(task: Task, pixels: np.ndarray, env: Environment, work: str, row: dict[str, Any]) -> dict[str, Any]:
    pair = env.colour if task.colour else env.grey
    if pair is None:
        raise RunFailed('no colour graph pair was given for a colour point')
    compress = os.path.join(work, 'compress.gph')
    decompress = os.path.join(work, 'decompress.gph')
    with open(compress, 'wb') as f:
        f.write(pair.compress)
    with open(decompress, 'wb') as f:
        f.write(pair.decompress)
    picture = os.path.join(work, 'picture.bmp')
    pictures.write_bmp(picture, pixels)
    vorlan = env.vorlan
    if not os.access(vorlan, os.X_OK):  # a worker with Vorlan elsewhere
        vorlan = shutil.which('vorlan') or vorlan
    given = pair.expand(task.settings_dict)
    settings = [f'{k}={v}' for k, v in given.items()]
    if pair.threads:
        settings += [f'{c}.threadCount={env.threads}' for c, _ in pair.encoders if f'{c}.threadCount' not in given]
    trip = RoundTrip(vorlan, compress, decompress, work, settings, pair.rate_fields, pair.original_caption,
                     pair.colour)
    if task.target is None:
        point, tried = trip.run(picture), None
    else:
        point, tried = trip.at_rate(picture, pixels.shape[0] * pixels.shape[1], task.target, env.tolerance,
                                    env.tries)
    _measured(row, pixels, point.decoded, point.size)
    row.update(encode_seconds=point.encode_seconds, decode_seconds=point.decode_seconds,
               knob=point.max_ranges, attempts=1 if tried is None else len(tried),
               runs=json.dumps(point.reports, sort_keys=True, separators=(',', ':')))
    return row


def _rival(task: Task, pixels: np.ndarray, work: str, row: dict[str, Any]) -> dict[str, Any]:
    codec = codecs.for_picture(RIVALS[task.codec], task.colour)
    absent = codec.missing()
    if absent:
        raise RunFailed(absent)
    encoded = codecs.at_rate(codec, pixels, task.target, work=work)
    _measured(row, pixels, encoded.decoded, encoded.size)
    row.update(encode_seconds=encoded.seconds, decode_seconds=encoded.decode_seconds, knob=encoded.knob,
               attempts=None)
    return row


@contextlib.contextmanager
def _stops_held():
    """Holds SIGTERM and SIGINT back while the scratch folder is made or
    removed: a stopped worker may be sent SIGTERM twice (by the client and by
    its pool), and the second one must not cut the removal the first one
    started short. A held signal arrives when the block ends."""
    held = {signal.SIGTERM, signal.SIGINT}
    previous = signal.pthread_sigmask(signal.SIG_BLOCK, held)
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, previous)


def compute(task: Task, pixels: np.ndarray, env: Environment) -> dict[str, Any]:
    """Computes one point in a scratch folder of its own and returns its row.
    A point that fails gives a 'failed' row with the reason; a stop raises
    RunInterrupted (nothing is to be stored then)."""
    row = _base_row(task, pixels, env.program)
    work = None
    try:
        with _stops_held():
            work = tempfile.mkdtemp(prefix='vorlan-sweep-')
        if task.codec == VORLAN:
            return _vorlan(task, pixels, env, work, row)
        if task.codec in RIVALS:
            return _rival(task, pixels, work, row)
        raise RunFailed(f'unknown codec {task.codec!r}')
    except RunInterrupted:
        raise
    except (RunFailed, OSError, ValueError) as error:
        return failed_row(task, pixels, env.program, str(error))
    finally:
        if work is not None:
            with _stops_held():
                shutil.rmtree(work, ignore_errors=True)

