"""Fractal image coding and filter graphs from Python.

    import numpy, vorlan
    code = vorlan.encode(picture)             # 2-D uint8 array -> packed HV code (bytes)
    decoded = vorlan.decode(code, dtype=numpy.uint8)

`encode` and `decode` run the HV encoder and the HV code packer (the HV code
unpacker and the HV decoder) plug-ins that `vorlan --run` runs, so a code is
byte for byte what examples/compress.gph writes for the same plane and
settings. The GIL is released while they work; Ctrl+C (KeyboardInterrupt)
stops them. Every failure is a `vorlan.Error`.
"""
from __future__ import annotations

import os
from typing import Any, Mapping

import numpy as np

from . import _vorlan
from ._vorlan import Error
from .graph import Display, Graph, RunError, RunReport, filters, rejected_libraries
from .rate import search_ranges

Error.__module__ = __name__

__all__ = ['Error', 'RunError', 'encode', 'decode', 'filters', 'rejected_libraries', 'Graph', 'RunReport', 'Display',
           'EXAMPLE_ENCODER_SETTINGS', 'EXAMPLE_DECODER_SETTINGS']

# The encoder settings of the example round trip (examples/make_fractal.py,
# the best measured in docs/rate-distortion.md): Rate-distortion with the
# quick attractor search (the grid search when Fidelity mode is asked for), at
# most 4000 ranges, an 8 x 8 domain grid, ranges down to 2 pixels, 32 scale
# and 128 offset levels. `encode` starts from these; keyword arguments override them.
EXAMPLE_ENCODER_SETTINGS: dict[str, Any] = {
    'mode': 'rate_distortion', 'maxError': 30.0, 'maxDiffCheck': 0, 'maxRanges': 4000, 'minRangeSize': 2,
    'maxRangeSize': 0, 'minRangeFactor': 2, 'maxRangeFactor': 2, 'maxScale': 1.0, 'offsetLevels': 128,
    'scaleLevels': 32, 'searchMode': 'quick_attractor', 'stepX': 8, 'stepY': 8, 'coverMode': 'in_tolerance',
    'errorMode': 'quality', 'quality': 0.985, 'threadCount': 2, 'threadPriority': 'normal', 'feedback': 0,
}

# The decoder settings of the example round trip: 20 passes at the code's
# own size, the range borders deblocked edge-adaptively (post-processing 2;
# the border smoothing of 1 softens block edges but lowers PSNR).
EXAMPLE_DECODER_SETTINGS: dict[str, Any] = {
    'mode': 'max_iterations', 'resolutionX': 1, 'resolutionY': 1, 'maxIterations': 20, 'maxRmsError': 5.0,
    'quality': 0.95, 'postProcessing': 2, 'feedback': 0, 'drawRanges': 0,
}

# The packer settings of the example round trip: format version 2 (offsets
# predicted from the neighbouring ranges).
EXAMPLE_PACKER_SETTINGS: dict[str, Any] = {'formatVersion': 2}

# The encoder's most search threads.
MAX_THREADS = 64

# The nominal value range of integer pictures: every level.
_INTEGER_RANGES = {np.dtype(np.uint8): (0.0, 255.0), np.dtype(np.uint16): (0.0, 65535.0)}
_LEVELS = {np.dtype(np.float64): 0, np.dtype(np.uint8): 255, np.dtype(np.uint16): 65535}


def _setting_text(name: str, value: Any) -> str:
    """A keyword value as the text `vorlan --set` would read."""
    if isinstance(value, (bool, np.bool_)):
        return '1' if value else '0'
    if isinstance(value, (int, np.integer)):
        return str(int(value))
    if isinstance(value, (float, np.floating)):
        return repr(float(value))
    if isinstance(value, str):
        return value
    raise Error(f'setting "{name}": {type(value).__name__} is not a number, a flag or a choice name')


def _settings_list(settings: Mapping[str, Any]) -> list[tuple[str, str]]:
    return [(name, _setting_text(name, value)) for name, value in settings.items()]


def _thread_count(threads: int) -> int:
    """`threads` search workers; 0 for one per processor this process may use."""
    if isinstance(threads, bool) or not isinstance(threads, (int, np.integer)) or threads < 0:
        raise Error(f'threads must be a whole number, 0 or more, not {threads!r}')
    if threads == 0:
        threads = len(os.sched_getaffinity(0)) if hasattr(os, 'sched_getaffinity') else (os.cpu_count() or 1)
    return max(1, min(MAX_THREADS, int(threads)))


def _value_range(image: np.ndarray, value_range: tuple[float, float] | None) -> tuple[float, float]:
    if value_range is None:
        dtype = getattr(image, 'dtype', None)
        if dtype in _INTEGER_RANGES:
            return _INTEGER_RANGES[dtype]
        raise Error(f'vorlan.encode: a {dtype} image needs value_range=(low, high), the nominal range of its samples')
    try:
        low, high = (float(v) for v in value_range)
    except (TypeError, ValueError):
        raise Error(f'vorlan.encode: value_range must be two numbers (low, high), not {value_range!r}') from None
    return low, high


def encode(image: np.ndarray, *, mode: str | int = EXAMPLE_ENCODER_SETTINGS['mode'], ranges: int | None = None,
           bpp: float | None = None, threads: int = 0, value_range: tuple[float, float] | None = None,
           format_version: int = EXAMPLE_PACKER_SETTINGS['formatVersion'], **settings: Any) -> bytes:
    """The packed HV code of a grey picture, as the HV code packer writes it.

    image: a C-contiguous 2-D array, rows top first: uint8 or uint16 (their
    nominal range is every level unless value_range says otherwise), or
    float32/float64 with value_range=(low, high) declared. float64 samples
    are read where they lie; NaN or infinite samples are refused.
    mode: "fidelity", "size", "least_error" or "rate_distortion" (or 0 ... 3).
    ranges: the number of ranges Size and Least error grow to (maxRanges),
    and Rate-distortion's upper bound.
    bpp: a target rate in bits per pixel of the returned code instead of
    ranges: the number of ranges is searched as examples/demo.sh does (a
    few encodes, the code closest to the target).
    threads: search workers, 0 for one per processor. With Least error and
    Rate-distortion the code does not depend on them.
    format_version: the packed container's format, 2 as the example graphs
    write it, or 1 (read by every unpacker).
    settings: any other HV encoder setting by its identifier (maxScale=0.9,
    stepX=4, ...); the rest are EXAMPLE_ENCODER_SETTINGS.
    """
    if not isinstance(image, np.ndarray):
        raise Error(f'vorlan.encode: the image must be a numpy array, not {type(image).__name__}')
    low, high = _value_range(image, value_range)
    chosen = dict(EXAMPLE_ENCODER_SETTINGS)
    for keyword, field in (('ranges', 'maxRanges'), ('threads', 'threadCount')):
        if field in settings:
            raise Error(f'vorlan.encode: give {keyword}=, not {field}=')
    chosen.update(settings)
    chosen['mode'] = mode
    if str(mode).lower() in ('fidelity', '0') and 'searchMode' not in settings:
        # The attractor search needs a range count to grow to.
        chosen['searchMode'] = 'grid'
    chosen['threadCount'] = _thread_count(threads)
    if ranges is not None:
        if bpp is not None:
            raise Error('vorlan.encode: give ranges= or bpp=, not both')
        chosen['maxRanges'] = ranges
    packer = _settings_list({**EXAMPLE_PACKER_SETTINGS, 'formatVersion': format_version})
    if bpp is None:
        return _vorlan._encode(image, (low, high), _settings_list(chosen), packer)

    if not (isinstance(bpp, (int, float, np.number)) and np.isfinite(bpp) and bpp > 0):
        raise Error(f'vorlan.encode: bpp must be a positive number, not {bpp!r}')
    if str(mode).lower() in ('fidelity', '0'):
        raise Error('vorlan.encode: bpp= needs mode "size", "least_error" or "rate_distortion" (Fidelity has no number of ranges)')
    shape = getattr(image, 'shape', ())
    pixels = int(np.prod(shape)) if len(shape) == 2 else 0

    def code_at(count: int) -> bytes:
        return _vorlan._encode(image, (low, high), _settings_list({**chosen, 'maxRanges': count}), packer)

    if pixels == 0:
        return code_at(1)  # refused with the reason
    return search_ranges(code_at, float(bpp) * pixels)[0]


def decode(data: bytes, *, scale: int = 1, iterations: int | None = None, post_processing: bool | int | None = None,
           dtype: Any = np.float64) -> np.ndarray:
    """The picture a packed HV code decodes to.

    scale: the output is scale times the code's width and height.
    iterations: decoding passes (None: 20, as the example graphs run).
    post_processing: after the last pass, None as the example graphs (2),
    False or 0 nothing, True or 1 smooth every range border, 2 deblock the
    range borders edge-adaptively.
    dtype: float64 gives the samples in the code's declared value range;
    uint8 or uint16 give them rounded to the nearest of 256 or 65536 levels
    of that range and clipped, as the Bmp encoder writes a plane.
    A damaged or truncated code is a vorlan.Error.
    """
    target = np.dtype(dtype)
    if target not in _LEVELS:
        raise Error(f'vorlan.decode: dtype must be float64, uint8 or uint16, not {target}')
    chosen = dict(EXAMPLE_DECODER_SETTINGS)
    chosen['resolutionX'] = chosen['resolutionY'] = scale
    if iterations is not None:
        chosen['maxIterations'] = iterations
    if post_processing is not None:
        if post_processing not in (0, 1, 2):
            raise Error(f'vorlan.decode: post_processing must be None, False, True, 0, 1 or 2, not {post_processing!r}')
        chosen['postProcessing'] = int(post_processing)
    if isinstance(scale, bool) or not isinstance(scale, (int, np.integer)):
        raise Error(f'vorlan.decode: scale must be a whole number, 1 or more, not {scale!r}')
    if iterations is not None and (isinstance(iterations, bool) or not isinstance(iterations, (int, np.integer))):
        raise Error(f'vorlan.decode: iterations must be a whole number, not {iterations!r}')
    if isinstance(data, str):
        raise Error('vorlan.decode: the code must be bytes, not str')
    return _vorlan._decode(data, _settings_list(chosen), _LEVELS[target])
