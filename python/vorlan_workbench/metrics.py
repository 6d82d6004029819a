"""Distortion of 8-bit pictures: mean squared error, PSNR and SSIM, on numpy
arrays of equal shape (levels 0 ... 255), grey (h, w) or RGB (h, w, 3).

For RGB pictures, PSNR is taken over the mean squared error of all three
channels' samples together (as most papers on colour coding give it), and
SSIM is the mean of the three channels' SSIM."""
from __future__ import annotations

import math

import numpy as np
from scipy import ndimage

PEAK = 255.0  # the largest 8-bit grey level


def _pair(a: np.ndarray, b: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    a = np.asarray(a, dtype=np.float64)
    b = np.asarray(b, dtype=np.float64)
    if a.shape != b.shape:
        raise ValueError(f'pictures of different sizes: {a.shape} and {b.shape}')
    if a.size == 0:
        raise ValueError('empty pictures')
    return a, b


def mse(a: np.ndarray, b: np.ndarray) -> float:
    """Mean squared difference over every sample, in squared levels."""
    a, b = _pair(a, b)
    return float(np.mean((a - b) ** 2))


def psnr(a: np.ndarray, b: np.ndarray, peak: float = PEAK) -> float:
    """Peak signal-to-noise ratio in dB, 10 log10(peak^2 / MSE); infinite for
    identical pictures."""
    error = mse(a, b)
    return math.inf if error == 0.0 else 10.0 * math.log10(peak * peak / error)


def ssim(a: np.ndarray, b: np.ndarray, peak: float = PEAK) -> float:
    """Mean structural similarity (Wang et al. 2004: Gaussian window of
    sigma 1.5, K1 = 0.01, K2 = 0.03) of two grey pictures, 1 for identical
    ones; of RGB pictures, the mean over the channels, each on its own.
    Windows are truncated at 3.5 sigma and the border is reflected."""
    a, b = _pair(a, b)
    if a.ndim == 3:
        return float(np.mean([ssim(a[..., c], b[..., c], peak) for c in range(a.shape[2])]))
    c1 = (0.01 * peak) ** 2
    c2 = (0.03 * peak) ** 2

    def blur(x: np.ndarray) -> np.ndarray:
        return ndimage.gaussian_filter(x, 1.5, mode='reflect', truncate=3.5)

    mu_a, mu_b = blur(a), blur(b)
    var_a = blur(a * a) - mu_a * mu_a
    var_b = blur(b * b) - mu_b * mu_b
    cov = blur(a * b) - mu_a * mu_b
    index = ((2 * mu_a * mu_b + c1) * (2 * cov + c2)) / ((mu_a ** 2 + mu_b ** 2 + c1) * (var_a + var_b + c2))
    return float(np.mean(index))


def block_errors(a: np.ndarray, b: np.ndarray, block: int = 8) -> np.ndarray:
    """Mean squared error of each block x block tile (partial tiles at the
    right and bottom edges dropped): where a picture's error lies."""
    a, b = _pair(a, b)
    h, w = (a.shape[0] // block) * block, (a.shape[1] // block) * block
    d = (a[:h, :w] - b[:h, :w]) ** 2
    return d.reshape(h // block, block, w // block, block).mean(axis=(1, 3))
