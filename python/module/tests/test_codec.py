"""vorlan.encode and vorlan.decode against the graph pipeline, their
settings, and every input they refuse."""
from __future__ import annotations

import os
import signal
import threading
import time

import numpy as np
import pytest

import vorlan
from conftest import EXAMPLES, graph_grey, read_bmp_rgb, run_vorlan, write_grey_bmp

RANGES = 80


def test_same_code_and_picture_as_the_example_graphs(tmp_path, crop):
    picture = tmp_path / 'crop.bmp'
    write_grey_bmp(str(picture), crop)
    run_vorlan('--run', os.path.join(EXAMPLES, 'compress.gph'), '--quiet', '--path', f'source={picture}',
               '--path', 'target=crop.hvf', '--set', f'encoder.maxRanges={RANGES}', cwd=tmp_path)
    written = (tmp_path / 'crop.hvf').read_bytes()

    plane, value_range = graph_grey(crop)
    code = vorlan.encode(plane, value_range=value_range, ranges=RANGES, threads=2)
    assert code == written

    run_vorlan('--run', os.path.join(EXAMPLES, 'decompress.gph'), '--quiet', '--path', 'source=crop.hvf',
               '--path', 'target=decoded.bmp', '--path', f'original={picture}', cwd=tmp_path)
    shown = read_bmp_rgb(str(tmp_path / 'decoded.bmp'))[..., 0]
    levels = vorlan.decode(code, dtype=np.uint8)
    assert levels.dtype == np.uint8 and levels.shape == crop.shape
    np.testing.assert_array_equal(levels, shown)

    samples = vorlan.decode(code)
    assert samples.dtype == np.float64 and samples.flags.c_contiguous
    # In the units of the declared range, not clipped to it.
    assert abs(np.mean(samples) - np.mean(plane)) < 0.02
    # The levels are the float plane rounded, and the plane is near the picture.
    np.testing.assert_array_equal(np.floor(samples * 255 / value_range[1] + 0.5).clip(0, 255), levels)
    assert np.abs(levels.astype(float) - crop).mean() < 12


def test_sample_kinds_give_the_same_code(crop):
    code = vorlan.encode(crop, ranges=60, threads=1)
    assert vorlan.encode(crop.astype(np.float64), value_range=(0, 255), ranges=60, threads=1) == code
    assert vorlan.encode(crop.astype(np.float32), value_range=(0, 255), ranges=60, threads=1) == code
    assert vorlan.encode(crop.astype(np.uint16), value_range=(0, 255), ranges=60, threads=1) == code
    # uint16 pictures span 65536 levels by default: a different code.
    assert vorlan.encode(crop.astype(np.uint16), ranges=60, threads=1) != code
    wide = vorlan.decode(vorlan.encode(crop.astype(np.uint16) * 257, ranges=60, threads=1), dtype=np.uint16)
    assert wide.dtype == np.uint16 and np.abs(wide / 257.0 - crop).mean() < 12


def test_thread_count_does_not_change_the_code(crop):
    codes = {threads: vorlan.encode(crop, ranges=RANGES, threads=threads) for threads in (1, 2, 3, 0)}
    assert len(set(codes.values())) == 1, {t: len(c) for t, c in codes.items()}


def test_settings_by_identifier(crop):
    coarse = vorlan.encode(crop, ranges=40, threads=1)
    fine = vorlan.encode(crop, ranges=400, threads=1)
    assert len(coarse) < len(fine)
    # The default mode is the example graph's, Rate-distortion; a mode by
    # number is the same as by name.
    assert vorlan.encode(crop, ranges=40, threads=1, mode=3) == coarse
    assert vorlan.encode(crop, ranges=40, threads=1, mode=2) == vorlan.encode(crop, ranges=40, threads=1,
                                                                              mode='least_error')
    assert vorlan.encode(crop, ranges=40, threads=1, stepX=4, stepY=4) != coarse
    fidelity = vorlan.encode(crop, mode='fidelity', errorMode='absolute', maxError=8.0, threads=1)
    assert vorlan.decode(fidelity).shape == crop.shape

    with pytest.raises(vorlan.Error, match='no setting "maxRange".*maxRanges'):
        vorlan.encode(crop, maxRange=5)
    with pytest.raises(vorlan.Error, match='"mode".*least_error'):
        vorlan.encode(crop, mode='smallest')
    with pytest.raises(vorlan.Error, match='maxRanges'):
        vorlan.encode(crop, ranges=0)
    with pytest.raises(vorlan.Error, match='minRangeFactor'):
        vorlan.encode(crop, minRangeFactor=1)
    with pytest.raises(vorlan.Error, match='ranges= or bpp='):
        vorlan.encode(crop, ranges=10, bpp=1.0)
    with pytest.raises(vorlan.Error, match='give threads='):
        vorlan.encode(crop, threadCount=3)
    with pytest.raises(vorlan.Error, match='threads'):
        vorlan.encode(crop, threads=-1)
    with pytest.raises(vorlan.Error, match='not a number'):
        vorlan.encode(crop, maxScale=[1])


def test_rate_target(crop):
    code = vorlan.encode(crop, bpp=1.0, threads=2)
    assert abs(len(code) * 8 / crop.size - 1.0) < 0.15
    with pytest.raises(vorlan.Error, match='bpp= needs mode'):
        vorlan.encode(crop, bpp=1.0, mode='fidelity')
    with pytest.raises(vorlan.Error, match='positive'):
        vorlan.encode(crop, bpp=float('nan'))


@pytest.mark.parametrize('image, message', [
    (np.zeros((8, 8), np.int32), 'dtype int32'),
    (np.zeros((8, 8), np.bool_), 'dtype bool'),
    (np.zeros((8, 8), np.complex128), 'dtype complex128'),
    (np.zeros((8, 8, 3), np.uint8), '2-D'),
    (np.zeros(8, np.uint8), '2-D'),
    (np.zeros((0, 8), np.uint8), 'empty'),
    (np.zeros((16, 16), np.uint8)[:, ::2], 'C-contiguous'),
    (np.asfortranarray(np.zeros((8, 6), np.uint8)), 'C-contiguous'),
    (np.zeros((8, 8), '>u2'), 'big-endian'),
    ([[1, 2], [3, 4]], 'numpy array'),
])
def test_refused_images(image, message):
    with pytest.raises(vorlan.Error, match=message):
        vorlan.encode(image, value_range=(0, 1))


def test_refused_samples_and_ranges():
    plane = np.linspace(0, 1, 64).reshape(8, 8)
    with pytest.raises(vorlan.Error, match='needs value_range'):
        vorlan.encode(plane)
    for bad in ((1, 1), (0, float('inf')), (2, 1)):
        with pytest.raises(vorlan.Error, match='value_range'):
            vorlan.encode(plane, value_range=bad)
    with pytest.raises(vorlan.Error, match='two numbers'):
        vorlan.encode(plane, value_range='0-1')
    for bad in (np.nan, np.inf):
        damaged = plane.copy()
        damaged[3, 5] = bad
        with pytest.raises(vorlan.Error, match='not a finite number .* row 3, column 5'):
            vorlan.encode(damaged, value_range=(0, 1))
        with pytest.raises(vorlan.Error, match='row 3, column 5'):
            vorlan.encode(damaged.astype(np.float32), value_range=(0, 1))


def test_damaged_codes_are_refused(crop):
    code = vorlan.encode(crop, ranges=60, threads=1)
    damaged = [b'', code[:10], code[:len(code) // 2], code[:-1], b'\xff' * len(code),
               code[:20] + bytes(b ^ 0x5a for b in code[20:])]
    for data in damaged:
        with pytest.raises(vorlan.Error, match='HV code unpacker|HV decoder'):
            vorlan.decode(data)
    assert vorlan.decode(bytearray(code)).shape == crop.shape
    assert vorlan.decode(memoryview(code)).shape == crop.shape
    assert vorlan.decode(np.frombuffer(code, np.uint8)).shape == crop.shape
    with pytest.raises(vorlan.Error, match='contiguous bytes'):
        vorlan.decode(np.frombuffer(code, np.uint8)[::2])
    with pytest.raises(vorlan.Error, match='not str'):
        vorlan.decode('code')
    with pytest.raises(vorlan.Error, match='dtype'):
        vorlan.decode(code, dtype=np.int8)
    with pytest.raises(vorlan.Error, match='resolutionX'):
        vorlan.decode(code, scale=0)


def test_decode_options(crop):
    code = vorlan.encode(crop, ranges=RANGES, threads=1)
    assert vorlan.decode(code, scale=2).shape == (2 * crop.shape[0], 2 * crop.shape[1])
    smooth = vorlan.decode(code, post_processing=True)
    assert not np.array_equal(smooth, vorlan.decode(code))
    assert not np.array_equal(vorlan.decode(code, post_processing=0), vorlan.decode(code))
    with pytest.raises(vorlan.Error, match='post_processing'):
        vorlan.decode(code, post_processing=3)
    # Both container versions hold the same code.
    older = vorlan.encode(crop, ranges=RANGES, threads=1, format_version=1)
    assert code[:6] == b'HVPK\x02\x00' and older[:6] == b'HVPK\x01\x00'
    np.testing.assert_array_equal(vorlan.decode(older), vorlan.decode(code))
    assert not np.array_equal(vorlan.decode(code, iterations=1), vorlan.decode(code, iterations=30))


def test_keyboard_interrupt_stops_a_long_encode(camera):
    # A full search over every domain position of the whole picture takes
    # minutes; Ctrl+C must end it within a second.
    sent = []

    def interrupt():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    timer = threading.Timer(0.3, interrupt)
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        vorlan.encode(camera, ranges=60000, stepX=1, stepY=1, maxRangeFactor=4, threads=2)
    ended = time.monotonic()
    timer.join()
    assert sent and ended - sent[0] < 1.0
    # The module works on after the interrupted run.
    assert len(vorlan.encode(camera[:32, :32].copy(), ranges=10, threads=1)) > 0
