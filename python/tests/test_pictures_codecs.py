import struct

import numpy as np
import pytest

from vorlan_workbench import codecs, metrics, pictures


def gradient(h=48, w=64):
    y, x = np.mgrid[0:h, 0:w]
    return ((x * 3 + y * 2 + 40 * np.sin(x / 5.0)) % 256).astype(np.uint8)


def write_bmp(path, rgb, top_down=False):
    h, w, _ = rgb.shape
    stride = (w * 3 + 3) & ~3
    rows = rgb[..., ::-1] if top_down else rgb[::-1, :, ::-1]
    body = b''.join(r.tobytes() + b'\0' * (stride - w * 3) for r in rows)
    header = struct.pack('<2sIHHI', b'BM', 54 + len(body), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, w, -h if top_down else h, 1, 24, 0, len(body), 0, 0, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + body)


def test_picture_files_round_trip(tmp_path):
    rng = np.random.default_rng(3)
    rgb = rng.integers(0, 256, (5, 7, 3), dtype=np.uint8)  # odd width: row padding
    for top_down in (False, True):
        path = str(tmp_path / f'p{top_down}.bmp')
        write_bmp(path, rgb, top_down)
        assert np.array_equal(pictures.read_bmp_rgb(path), rgb)
    grey = pictures.read_bmp_grey(path)
    expected = np.rint(0.299 * rgb[..., 0] + 0.587 * rgb[..., 1] + 0.114 * rgb[..., 2])
    assert np.array_equal(grey, expected.astype(np.uint8))
    g = gradient()
    pictures.write_pgm(str(tmp_path / 'g.pgm'), g)
    assert np.array_equal(pictures.read_grey(str(tmp_path / 'g.pgm')), g)
    pictures.write_y4m_mono(str(tmp_path / 'g.y4m'), g)
    assert np.array_equal(pictures.read_y4m_luma(str(tmp_path / 'g.y4m')), g)
    (tmp_path / 'bad.bmp').write_bytes(b'BM' + b'\0' * 10)
    with pytest.raises(ValueError):
        pictures.read_bmp_rgb(str(tmp_path / 'bad.bmp'))


def test_missing_tools_are_reported_not_raised():
    ghost = codecs.Codec('ghost', 'Ghost', 'ghost-tools', ('no-such-encoder-here',), '.g', (1, 10), True, True,
                         False, lambda i, o, q: ['false'], lambda i, o: ['false'])
    assert 'no-such-encoder-here not found (Debian package ghost-tools)' in ghost.missing()
    assert codecs.at_rate(ghost, gradient(), 0.5) is None
    assert codecs.curve(ghost, gradient(), [0.5, 1.0]) == []


@pytest.mark.parametrize('name', sorted(codecs.CODECS))
def test_rival_lands_near_its_target_rate(name, tmp_path):
    codec = codecs.CODECS[name]
    if codec.missing():
        pytest.skip(codec.missing())
    rng = np.random.default_rng(11)
    grey = np.clip(gradient(96, 96) + rng.normal(0, 12, (96, 96)), 0, 255).astype(np.uint8)
    low = codecs.at_rate(codec, grey, 0.5, tolerance=0.05, work=str(tmp_path))
    high = codecs.at_rate(codec, grey, 2.0, tolerance=0.05, work=str(tmp_path))
    assert low.decoded.shape == grey.shape and low.decoded.dtype == np.uint8
    # Headers weigh heavily on a tiny picture; the search must still order
    # the two rates and the quality must follow them.
    assert low.bpp < high.bpp
    assert abs(np.log(high.bpp / 2.0)) < 0.2
    assert metrics.psnr(high.decoded, grey) > metrics.psnr(low.decoded, grey)


def colour_picture(h=96, w=96):
    # Different structure in each channel, so that a codec that dropped the
    # chroma or swapped channels would lose many dB.
    y, x = np.mgrid[0:h, 0:w]
    rng = np.random.default_rng(13)
    rgb = np.stack([(x * 2.5) % 256, (y * 2.5) % 256, 128 + 100 * np.sin((x + y) / 7.0)], axis=2)
    return np.clip(rgb + rng.normal(0, 6, rgb.shape), 0, 255).astype(np.uint8)


def test_colour_files_round_trip(tmp_path):
    rgb = colour_picture(5, 7)
    pictures.write_ppm(str(tmp_path / 'c.ppm'), rgb)
    pictures.write_png(str(tmp_path / 'c.png'), rgb)
    pictures.write_bmp(str(tmp_path / 'c.bmp'), rgb)
    for name in ('c.ppm', 'c.png', 'c.bmp'):
        assert np.array_equal(pictures.read_rgb(str(tmp_path / name)), rgb), name
    assert not pictures.is_grey(rgb)
    assert pictures.is_grey(np.repeat(gradient(5, 7)[..., None], 3, axis=2))
    with pytest.raises(ValueError):
        pictures.write_ppm(str(tmp_path / 'g.ppm'), gradient())


@pytest.mark.parametrize('name', sorted(codecs.COLOUR_CODECS))
def test_colour_rival_codes_all_three_channels(name, tmp_path):
    codec = codecs.COLOUR_CODECS[name]
    if codec.missing():
        pytest.skip(codec.missing())
    rgb = colour_picture()
    encoded = codecs.at_rate(codec, rgb, 2.0, tolerance=0.05, work=str(tmp_path))
    assert encoded.decoded.shape == rgb.shape and encoded.decoded.dtype == np.uint8
    # Bits per pixel, not per sample.
    assert encoded.bpp == pytest.approx(encoded.size * 8 / (96 * 96))
    assert abs(np.log(encoded.bpp / 2.0)) < 0.2
    # Every channel comes back close to its own original, not to another's
    # or to the grey.
    for c in range(3):
        errors = [metrics.mse(encoded.decoded[..., c], rgb[..., k]) for k in range(3)]
        assert int(np.argmin(errors)) == c, (c, errors)
    assert metrics.psnr(encoded.decoded, rgb) > 22
    with pytest.raises(ValueError, match='RGB'):
        codec.compress(gradient(), 50)


def test_both_jpeg2000_wavelets_are_driven():
    nine_seven, five_three = codecs.CODECS['jpeg2000'], codecs.CODECS['jpeg2000-53']
    if five_three.missing():
        pytest.skip(five_three.missing())
    assert '-I' in nine_seven.encode('i.pgm', 'o.j2k', 20) and '-I' not in five_three.encode('i.pgm', 'o.j2k', 20)
    grey = gradient(96, 96)
    a, b = nine_seven.compress(grey, 8.0), five_three.compress(grey, 8.0)
    assert not np.array_equal(a.decoded, b.decoded)
    # At ratio 1 the reversible wavelet gives the picture back exactly.
    assert np.array_equal(five_three.compress(grey, 1.0).decoded, grey)
