"""Bjøntegaard averages between two rate-distortion curves.

A curve is a sequence of (rate, PSNR) points: rate in any unit that is the
same for both curves (bits per pixel here), PSNR in dB. Both averages are
taken over the PSNR (or rate) interval the two curves share only; outside it
neither curve says anything about the other.

`bd_rate` is the average rate difference at equal quality, in percent of the
anchor's rate (negative: the test curve needs fewer bits). Two ways to draw
the curve through the points:

- 'pchip': piecewise cubic Hermite interpolation of log rate over PSNR
  (shape-preserving: no overshoot between points; what later reports of the
  method recommend);
- 'cubic': the classic least-squares cubic polynomial (VCEG-M33), exact for
  four points and smooth for more, but it may swing between them.
"""
from __future__ import annotations

import math
from typing import Iterable, Sequence

import numpy as np
from scipy.interpolate import PchipInterpolator

Point = tuple[float, float]  # (rate, PSNR in dB)
METHODS = ('pchip', 'cubic')


def _curve(points: Iterable[Sequence[float]], name: str) -> tuple[np.ndarray, np.ndarray]:
    pts = sorted((float(r), float(q)) for r, q in points)
    if len(pts) < 2:
        raise ValueError(f'the {name} curve needs at least 2 points, has {len(pts)}')
    rates = np.array([r for r, _ in pts])
    quality = np.array([q for _, q in pts])
    if np.any(rates <= 0) or not np.all(np.isfinite(rates)) or not np.all(np.isfinite(quality)):
        raise ValueError(f'the {name} curve holds a rate that is not positive or a value that is not finite')
    if np.any(np.diff(rates) <= 0) or np.any(np.diff(quality) <= 0):
        raise ValueError(f'the {name} curve is not increasing: PSNR must grow with the rate at every point and no rate may repeat')
    return np.log10(rates), quality


def _integral(x: np.ndarray, y: np.ndarray, lo: float, hi: float, method: str) -> float:
    """Integral of the curve y(x) through the points from lo to hi."""
    if method == 'pchip':
        return float(PchipInterpolator(x, y, extrapolate=False).integrate(lo, hi))
    if method == 'cubic':
        degree = min(3, len(x) - 1)
        poly = np.polyint(np.polyfit(x, y, degree))
        return float(np.polyval(poly, hi) - np.polyval(poly, lo))
    raise ValueError(f'unknown method {method!r}; use one of {METHODS}')


def _overlap(a: np.ndarray, b: np.ndarray, what: str) -> tuple[float, float]:
    lo, hi = max(a.min(), b.min()), min(a.max(), b.max())
    if not hi > lo:
        raise ValueError(f'the two curves share no {what} interval')
    return float(lo), float(hi)


def bd_rate(anchor: Iterable[Sequence[float]], test: Iterable[Sequence[float]], method: str = 'pchip') -> float:
    """Average rate difference of `test` against `anchor` at equal PSNR, in
    percent, over the PSNR interval both curves cover."""
    ra, qa = _curve(anchor, 'anchor')
    rt, qt = _curve(test, 'test')
    lo, hi = _overlap(qa, qt, 'PSNR')
    mean = (_integral(qt, rt, lo, hi, method) - _integral(qa, ra, lo, hi, method)) / (hi - lo)
    return (math.pow(10.0, mean) - 1.0) * 100.0


def bd_psnr(anchor: Iterable[Sequence[float]], test: Iterable[Sequence[float]], method: str = 'pchip') -> float:
    """Average PSNR difference of `test` against `anchor` at equal rate, in dB,
    over the log-rate interval both curves cover."""
    ra, qa = _curve(anchor, 'anchor')
    rt, qt = _curve(test, 'test')
    lo, hi = _overlap(ra, rt, 'rate')
    return (_integral(rt, qt, lo, hi, method) - _integral(ra, qa, lo, hi, method)) / (hi - lo)
