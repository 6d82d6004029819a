import math

import numpy as np
import pytest

from vorlan_workbench.bdrate import bd_psnr, bd_rate

ANCHOR = [(0.125, 27.0), (0.25, 29.6), (0.5, 32.4), (1.0, 35.9)]


@pytest.mark.parametrize('method', ['pchip', 'cubic'])
def test_scaled_rates_give_their_percentage(method):
    assert bd_rate(ANCHOR, ANCHOR, method) == pytest.approx(0.0, abs=1e-9)
    cheaper = [(r * 0.8, q) for r, q in ANCHOR]
    assert bd_rate(ANCHOR, cheaper, method) == pytest.approx(-20.0, abs=1e-9)
    assert bd_rate(cheaper, ANCHOR, method) == pytest.approx(25.0, abs=1e-9)


@pytest.mark.parametrize('method', ['pchip', 'cubic'])
def test_psnr_shift_on_a_log_linear_curve(method):
    # PSNR = 30 + 6 log2(rate): +1.5 dB is a quarter of a doubling.
    rates = [0.1, 0.2, 0.3, 0.5, 0.8, 1.2]
    anchor = [(r, 30 + 6 * math.log2(r)) for r in rates]
    better = [(r, q + 1.5) for r, q in anchor]
    assert bd_rate(anchor, better, method) == pytest.approx((2 ** -0.25 - 1) * 100, abs=1e-6)
    assert bd_psnr(anchor, better, method) == pytest.approx(1.5, abs=1e-9)


def test_only_the_shared_interval_counts():
    # The anchor spans 20 ... 40 dB, the test curve 24 ... 30 dB at 90 % of
    # the anchor's rate: only the shared 24 ... 30 dB count (integrating the
    # anchor's whole span would need values the test curve does not have).
    def anchor_rate(q):
        return 0.05 * 2 ** ((q - 20) / 5)
    anchor = [(anchor_rate(q), q) for q in (20, 25, 30, 35, 40)]
    test = [(0.9 * anchor_rate(q), q) for q in (24, 27, 30)]
    for method in ('pchip', 'cubic'):
        assert bd_rate(anchor, test, method) == pytest.approx(-10.0, abs=1e-6)
        assert bd_rate(test, anchor, method) == pytest.approx(100 / 9, abs=1e-6)


def test_unusable_curves_are_refused():
    with pytest.raises(ValueError, match='share no'):
        bd_rate([(0.1, 20), (0.2, 22)], [(0.1, 30), (0.2, 32)])
    with pytest.raises(ValueError, match='not increasing'):
        bd_rate(ANCHOR, [(0.1, 30), (0.2, 29), (0.4, 33)])
    with pytest.raises(ValueError, match='at least 2'):
        bd_rate(ANCHOR, [(0.1, 30)])
    with pytest.raises(ValueError, match='unknown method'):
        bd_rate(ANCHOR, ANCHOR, 'linear')
    with pytest.raises(ValueError, match='not positive'):
        bd_rate(ANCHOR, [(0.0, 20), (0.2, 30)])


def test_methods_agree_on_a_smooth_curve():
    rates = np.geomspace(0.1, 1.2, 8)
    anchor = [(r, 33 + 5 * math.log2(r) - 0.3 * math.log2(r) ** 2) for r in rates]
    test = [(r * 1.1, q + 0.2 * math.log2(r)) for r, q in anchor]
    assert bd_rate(anchor, test, 'pchip') == pytest.approx(bd_rate(anchor, test, 'cubic'), abs=0.3)
