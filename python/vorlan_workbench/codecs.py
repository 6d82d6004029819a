"""Rival image codecs driven through their Debian command-line tools, each
with one quality knob that a bisection sets so that the file lands at a
target rate.

Every codec of CODECS compresses an 8-bit grey picture (numpy uint8, (h, w))
and returns the file size and the decoded 8-bit grey picture; its twin in
COLOUR_CODECS does the same for an RGB picture ((h, w, 3)). Rate (bits per
pixel: file bytes x 8 / pixels, not samples, headers included) and PSNR are
thus measured on exactly what a user gets. A codec whose tools are missing
says so (`missing()`), and `at_rate` returns None for it instead of failing.

  codec          tools                          knob (rate grows with it unless noted)
  jpeg           cjpeg / djpeg                  -quality 1 ... 100
  jpeg2000       opj_compress -I / opj_decompress  -r compression ratio (rate falls as it grows), 9/7 wavelet
  jpeg2000-53    opj_compress / opj_decompress  the same with the reversible 5/3 wavelet
  webp           cwebp -m 6 / dwebp             -q 0 ... 100
  avif           avifenc -s 4 / avifdec         --min = --max quantiser 0 ... 63 (rate falls)
  jpegxl         cjxl -e 7 / djxl               -d distance (rate falls)

In colour, cjpeg keeps its default 4:2:0 chroma, cwebp codes 4:2:0 as it
always does, avifenc is asked for 4:2:0 (-y 420) like them, OpenJPEG applies
its colour transform to the three components at full size, and cjxl codes
XYB as it does by default.
"""
from __future__ import annotations

import dataclasses
import math
import os
import shutil
import subprocess
import tempfile
import time
from dataclasses import dataclass, field
from typing import Callable, Optional

import numpy as np

from . import metrics, pictures
from .tools import RunFailed, RunInterrupted, check_status


@dataclass
class Encoded:
    """One compressed picture: `size` bytes of file, `bpp` bits per pixel,
    the decoded 8-bit picture (grey or RGB, as the original), and the
    encode and decode times in seconds (wall time of the tools)."""
    codec: str
    knob: float
    size: int
    bpp: float
    decoded: np.ndarray = field(repr=False)
    seconds: float = 0.0
    decode_seconds: float = 0.0

    def psnr(self, original: np.ndarray) -> float:
        """PSNR of the decoded picture against `original`, in dB."""
        return metrics.psnr(self.decoded, original)


class CodecError(RunFailed):
    """A tool ran but failed, or wrote something that cannot be read."""


def _run(command: list[str], cwd: str) -> None:
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    try:
        check_status(command, result.returncode, result.stderr)
    except RunInterrupted:
        raise
    except RunFailed as error:
        raise CodecError(f'{" ".join(command)}: {error}') from None


@dataclass
class Codec:
    """A command-line codec. `encode(input, output, knob)` and
    `decode(input, output)` build the two command lines; `write_input` and
    `read_output` move the picture in and out of the tools' file formats."""
    name: str
    label: str
    package: str  # the Debian package with the tools
    tools: tuple[str, ...]
    suffix: str
    knob_range: tuple[float, float]
    integer_knob: bool
    rate_grows_with_knob: bool
    log_knob: bool
    encode: Callable[[str, str, float], list[str]]
    decode: Callable[[str, str], list[str]]
    input_name: str = 'input.pgm'
    output_name: str = 'decoded.pgm'
    write_input: Callable[[str, np.ndarray], None] = pictures.write_pgm
    read_output: Callable[[str], np.ndarray] = pictures.read_grey
    colour: bool = False  # codes (h, w, 3) RGB pictures rather than (h, w) grey ones

    def missing(self) -> Optional[str]:
        """None when every tool is on the PATH, else what to install."""
        absent = [t for t in self.tools if shutil.which(t) is None]
        if not absent:
            return None
        return f'{self.label}: {", ".join(absent)} not found (Debian package {self.package})'

    def compress(self, picture: np.ndarray, knob: float, work: Optional[str] = None) -> Encoded:
        """Compresses `picture` at `knob` and decodes it again (in `work`, or a
        scratch folder of its own)."""
        picture = np.ascontiguousarray(picture, dtype=np.uint8)
        shape_ok = picture.ndim == 3 and picture.shape[2] == 3 if self.colour else picture.ndim == 2
        if not shape_ok or picture.size == 0:
            raise ValueError(f'{self.label} needs a non-empty {"RGB" if self.colour else "2-D grey"} picture, '
                             f'not an array of shape {picture.shape}')
        if self.integer_knob:
            knob = int(round(knob))
        own = work is None
        work = work or tempfile.mkdtemp(prefix=f'vorlan-{self.name}-')
        try:
            source = os.path.join(work, self.input_name)
            coded = os.path.join(work, 'coded' + self.suffix)
            decoded = os.path.join(work, self.output_name)
            self.write_input(source, picture)
            start = time.perf_counter()
            _run(self.encode(source, coded, knob), work)
            seconds = time.perf_counter() - start
            start = time.perf_counter()
            _run(self.decode(coded, decoded), work)
            decode_seconds = time.perf_counter() - start
            size = os.path.getsize(coded)
            out = self.read_output(decoded)
            if out.shape != picture.shape:
                raise CodecError(f'{self.label} decoded a {out.shape} picture from a {picture.shape} one')
            pixels = picture.shape[0] * picture.shape[1]
            return Encoded(self.name, float(knob), size, size * 8.0 / pixels, out, seconds, decode_seconds)
        finally:
            if own:
                shutil.rmtree(work, ignore_errors=True)


def _ppm_grey(path: str) -> np.ndarray:
    return pictures.read_grey(path)


CODECS: dict[str, Codec] = {
    'jpeg': Codec('jpeg', 'JPEG', 'libjpeg-turbo-progs', ('cjpeg', 'djpeg'), '.jpg', (1, 100), True, True, False,
                  lambda i, o, q: ['cjpeg', '-grayscale', '-quality', str(int(q)), '-outfile', o, i],
                  lambda i, o: ['djpeg', '-pnm', '-outfile', o, i]),
    'jpeg2000': Codec('jpeg2000', 'JPEG 2000 (9/7)', 'libopenjp2-tools', ('opj_compress', 'opj_decompress'), '.j2k',
                      (1.0, 2000.0), False, False, True,
                      lambda i, o, r: ['opj_compress', '-i', i, '-o', o, '-I', '-r', f'{r:.6g}'],
                      lambda i, o: ['opj_decompress', '-i', i, '-o', o]),
    # Without -I OpenJPEG uses the reversible integer 5/3 wavelet, still
    # truncated to the ratio's layer.
    'jpeg2000-53': Codec('jpeg2000-53', 'JPEG 2000 (5/3)', 'libopenjp2-tools', ('opj_compress', 'opj_decompress'),
                         '.j2k', (1.0, 2000.0), False, False, True,
                         lambda i, o, r: ['opj_compress', '-i', i, '-o', o, '-r', f'{r:.6g}'],
                         lambda i, o: ['opj_decompress', '-i', i, '-o', o]),
    'webp': Codec('webp', 'WebP', 'webp', ('cwebp', 'dwebp'), '.webp', (0.0, 100.0), False, True, False,
                  lambda i, o, q: ['cwebp', '-quiet', '-m', '6', '-q', f'{q:.4f}', i, '-o', o],
                  lambda i, o: ['dwebp', '-quiet', i, '-ppm', '-o', o],
                  output_name='decoded.ppm', read_output=_ppm_grey),
    'avif': Codec('avif', 'AVIF', 'libavif-bin', ('avifenc', 'avifdec'), '.avif', (0, 63), True, False, False,
                  lambda i, o, q: ['avifenc', '-s', '4', '-j', '1', '--min', str(int(q)), '--max', str(int(q)), i, o],
                  lambda i, o: ['avifdec', '-j', '1', i, o],
                  input_name='input.y4m', output_name='decoded.y4m', write_input=pictures.write_y4m_mono,
                  read_output=pictures.read_y4m_luma),
    'jpegxl': Codec('jpegxl', 'JPEG XL', 'libjxl-tools', ('cjxl', 'djxl'), '.jxl', (0.05, 25.0), False, False, True,
                    lambda i, o, d: ['cjxl', i, o, '-d', f'{d:.6g}', '-e', '7', '--quiet'],
                    lambda i, o: ['djxl', i, o, '--quiet']),
}


def _colour_twin(codec: Codec) -> Codec:
    """The codec for RGB pictures: PPM in and out (PNG for AVIF, whose tools
    read no PPM), cjpeg without -grayscale, avifenc told 4:2:0."""
    twin = dataclasses.replace(codec, colour=True, input_name='input.ppm', output_name='decoded.ppm',
                               write_input=pictures.write_ppm, read_output=pictures.read_rgb)
    if codec.name == 'jpeg':
        twin.encode = lambda i, o, q: ['cjpeg', '-quality', str(int(q)), '-outfile', o, i]
    elif codec.name == 'avif':
        twin.encode = lambda i, o, q: ['avifenc', '-s', '4', '-j', '1', '-y', '420', '--min', str(int(q)),
                                       '--max', str(int(q)), i, o]
        twin.input_name, twin.output_name, twin.write_input = 'input.png', 'decoded.png', pictures.write_png
    return twin


COLOUR_CODECS: dict[str, Codec] = {name: _colour_twin(codec) for name, codec in CODECS.items()}


def for_picture(name: str, colour: bool) -> Codec:
    """The codec `name` of CODECS, or its RGB twin when `colour`."""
    return (COLOUR_CODECS if colour else CODECS)[name]


def at_rate(codec: Codec, picture: np.ndarray, target_bpp: float, tolerance: float = 0.01, steps: int = 24,
            work: Optional[str] = None) -> Optional[Encoded]:
    """Bisects the codec's knob for a file of `target_bpp` bits per pixel and
    returns the encoding whose rate lies nearest to it (in log rate; within
    `tolerance` relative error the search stops early). None when the
    codec's tools are missing."""
    if codec.missing() is not None:
        return None
    if not (target_bpp > 0 and math.isfinite(target_bpp)):
        raise ValueError(f'a positive target rate is needed, not {target_bpp}')
    lo, hi = codec.knob_range
    tried: dict[float, Encoded] = {}

    def probe(knob: float) -> Encoded:
        if codec.integer_knob:
            knob = float(int(round(knob)))
        if knob not in tried:
            tried[knob] = codec.compress(picture, knob, work)
        return tried[knob]

    def to_axis(k: float) -> float:
        return math.log(k) if codec.log_knob else k

    def from_axis(a: float) -> float:
        return math.exp(a) if codec.log_knob else a

    a, b = to_axis(lo), to_axis(hi)
    for _ in range(steps):
        if codec.integer_knob and abs(from_axis(b) - from_axis(a)) <= 1:
            break
        mid = probe(from_axis((a + b) / 2))
        if abs(mid.bpp - target_bpp) <= tolerance * target_bpp:
            return mid
        # Move towards the target: keep the half where the rate crosses it.
        below = mid.bpp < target_bpp
        if below == codec.rate_grows_with_knob:
            a = to_axis(mid.knob)
        else:
            b = to_axis(mid.knob)
    for end in (a, b):
        probe(from_axis(end))
    return min(tried.values(), key=lambda e: abs(math.log(e.bpp / target_bpp)))


def curve(codec: Codec, picture: np.ndarray, targets: list[float], **options) -> list[Encoded]:
    """One encoding per target rate (see at_rate); empty when the tools are
    missing."""
    if codec.missing() is not None:
        return []
    points = [at_rate(codec, picture, t, **options) for t in targets]
    return [p for p in points if p is not None]
