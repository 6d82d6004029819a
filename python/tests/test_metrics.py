import math

import numpy as np
import pytest

from vorlan_workbench import metrics


def test_psnr_of_known_errors():
    a = np.full((16, 16), 100, np.uint8)
    assert metrics.psnr(a, a) == math.inf
    # A difference of one level everywhere: MSE 1, PSNR 20 log10 255.
    assert metrics.psnr(a, a + 1) == pytest.approx(20 * math.log10(255), abs=1e-12)
    # uint8 arithmetic must not wrap: 0 against 255 is the largest error.
    assert metrics.psnr(np.zeros((4, 4), np.uint8), np.full((4, 4), 255, np.uint8)) == pytest.approx(0.0)
    with pytest.raises(ValueError):
        metrics.psnr(a, a[:8])


def test_ssim_orders_distortions():
    rng = np.random.default_rng(7)
    x = np.add.outer(np.arange(64), np.arange(64)).astype(np.float64) * 2
    assert metrics.ssim(x, x) == pytest.approx(1.0)
    light = np.clip(x + rng.normal(0, 2, x.shape), 0, 255)
    heavy = np.clip(x + rng.normal(0, 20, x.shape), 0, 255)
    assert 1.0 > metrics.ssim(x, light) > metrics.ssim(x, heavy) > 0.0
    assert metrics.ssim(x, heavy) == pytest.approx(metrics.ssim(heavy, x))


def test_block_errors_locate_a_bad_block():
    a = np.zeros((32, 32))
    b = a.copy()
    b[8:16, 16:24] = 10
    errors = metrics.block_errors(a, b, 8)
    assert errors.shape == (4, 4)
    assert errors[1, 2] == 100 and errors.sum() == 100


def test_colour_measures_pool_the_channels():
    # PSNR of an RGB pair is over the squared error of all samples (one
    # channel off by 3, the others exact: MSE 3), not of their grey; SSIM is
    # the mean of the three channels', none blurred into another.
    rng = np.random.default_rng(5)
    a = rng.integers(20, 230, (32, 40, 3)).astype(np.uint8)
    b = a.copy()
    b[..., 1] += 3
    assert metrics.psnr(a, b) == pytest.approx(10 * math.log10(255 ** 2 / 3), abs=1e-9)
    noisy = np.clip(a + rng.normal(0, [2, 10, 30], a.shape), 0, 255)
    per_channel = [metrics.ssim(a[..., c], noisy[..., c]) for c in range(3)]
    assert metrics.ssim(a, noisy) == pytest.approx(np.mean(per_channel), abs=1e-12)
    assert per_channel[0] > per_channel[1] > per_channel[2]
