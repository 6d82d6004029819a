"""The colour rate split of examples/colour_roundtrip.py: equal slope puts
the bytes where the picture's error falls fastest."""
import os
import struct
import sys

import numpy as np
import pytest

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'examples')
sys.path.insert(0, EXAMPLES)
import colour_roundtrip as cr  # noqa: E402


def write_bmp(path, rgb):
    h, w, _ = rgb.shape
    stride = (w * 3 + 3) & ~3
    body = b''.join(r.tobytes() + b'\0' * (stride - w * 3) for r in rgb[::-1, :, ::-1])
    header = struct.pack('<2sIHHI', b'BM', 54 + len(body), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(body), 0, 0, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + body)


def test_equal_slope_follows_the_measured_curves():
    # (ranges, bytes, squared error): Y gains much per byte, Cb a little,
    # Cr nothing (a flat plane).
    points = {'Y': [(1000, 4500, 60.0), (3000, 13500, 25.0)],
              'Cb': [(100, 450, 5.0), (300, 1350, 4.0)],
              'Cr': [(100, 300, 0.0), (300, 310, 0.0)]}
    budget = 12000
    split = cr.ColourTrip.split_from(points, budget)
    assert split['Cr'] == cr.FEWEST_RANGES
    assert split['Y'] > cr.fixed_split(budget * 8 / cr.BITS_PER_RANGE)['Y']
    models = {p: cr.PowerLaw(points[p]) for p in cr.PLANES}
    # The slopes of the planes that got more than their least are equal.
    sizes = cr.equal_slope(models, cr.RGB_WEIGHTS, budget, {p: 50.0 for p in cr.PLANES})
    assert sum(sizes.values()) == pytest.approx(budget, rel=1e-6)
    slope = {p: cr.RGB_WEIGHTS[p] * models[p].a * models[p].b * sizes[p] ** (-models[p].b - 1) for p in ('Y', 'Cb')}
    assert slope['Y'] == pytest.approx(slope['Cb'], rel=1e-6)
    # More budget never takes bytes from a plane.
    more = cr.equal_slope(models, cr.RGB_WEIGHTS, 2 * budget, {p: 50.0 for p in cr.PLANES})
    assert all(more[p] >= sizes[p] for p in cr.PLANES)


def test_flat_chroma_gets_fewer_ranges_than_a_fixed_share(tmp_path):
    vorlan = cr.default_vorlan()
    if not os.access(vorlan, os.X_OK):
        pytest.skip('the vorlan program is not built')
    y, x = np.mgrid[0:96, 0:96]
    grey = (128 + 60 * np.sin(x / 6.0) * np.cos(y / 9.0) + (x * 7 + y * 3) % 23).clip(0, 255).astype(np.uint8)
    picture = str(tmp_path / 'grey.bmp')
    write_bmp(picture, np.stack([grey] * 3, axis=-1))  # R = G = B: Cb and Cr are flat
    trip = cr.ColourTrip(picture, vorlan=vorlan, work=str(tmp_path / 'work'), threads=1)
    target = 1.0
    split = trip.split(target)
    fixed = cr.fixed_split(target * trip.pixels / cr.BITS_PER_RANGE)
    assert split['Y'] > fixed['Y']
    assert split['Cb'] < fixed['Cb'] and split['Cr'] < fixed['Cr']
