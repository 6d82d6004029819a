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
