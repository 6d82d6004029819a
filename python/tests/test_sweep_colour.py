import json
import math
import os
import shutil
import subprocess

import numpy as np
import pytest

import sweeping
from vorlan_workbench import codecs, pictures, sweep


def test_colour_rows_are_other_points_than_grey_ones():
    # The same picture hash planned grey and colour gives disjoint keys, so
    # a resumed sweep never takes a colour row for a grey one.
    args = dict(codec_names=['vorlan', 'jpeg'], rates=[0.5, 1.0], grid=[('encoder.stepX', ['4', '8'])],
                grid_rates=True)
    grey = sweep.plan([('h', 'p.png')], **args)
    colour = sweep.plan([('h', 'p.png')], colour=True, **args)
    assert len(grey) == len(colour) == 6
    assert not {t.key for t in grey} & {t.key for t in colour}
    assert all(t.colour for t in colour) and not any(t.colour for t in grey)
    # The colour pair sends an `encoder` setting to each plane's encoder.
    pair = sweep.GraphPair(b'', b'', encoders=(('Y', 0.76), ('Cb', 0.12), ('Cr', 0.12)), colour=True)
    assert pair.expand({'encoder.stepX': '4', 'Y.stepY': '8'}) == {
        'Y.stepX': '4', 'Cb.stepX': '4', 'Cr.stepX': '4', 'Y.stepY': '8'}
    assert sweep.GraphPair(b'', b'').expand({'encoder.stepX': '4'}) == {'encoder.stepX': '4'}


def _shown(record, caption):
    for node in record['nodes']:
        if node['caption'] == caption and 'display' in node:
            return float(node['display']['value'])
    raise AssertionError(f'no display {caption!r} in the run report')


def _jpeg_psnr(rgb, quality, folder):
    """cjpeg at `quality` and djpeg, measured here with plain numpy: bytes
    and PSNR over the three channels."""
    source, coded, decoded = (os.path.join(folder, n) for n in ('in.ppm', 'out.jpg', 'out.ppm'))
    pictures.write_ppm(source, rgb)
    subprocess.run(['cjpeg', '-quality', str(quality), '-outfile', coded, source], check=True)
    subprocess.run(['djpeg', '-pnm', '-outfile', decoded, coded], check=True)
    out = pictures.read_pnm(decoded).astype(np.float64)
    mse = np.mean((out - rgb.astype(np.float64)) ** 2)
    return os.path.getsize(coded), 10 * math.log10(255 ** 2 / mse)


def test_colour_sweep_measures_rgb_and_keeps_grey_pictures_grey(tmp_path):
    vorlan = sweeping.vorlan_or_skip()
    if codecs.CODECS['jpeg'].missing():
        pytest.skip(codecs.CODECS['jpeg'].missing())
    folder = str(tmp_path / 'pictures')
    sweeping.crops(folder)  # camera: grey in an RGB file; astronaut: colour
    grey_args = ['--images', folder, '--rates', '1', '--codecs', 'jpeg', '--db', 'r.sqlite', '--quiet']
    sweeping.run_sweep(grey_args, str(tmp_path))
    grey_rows = sweeping.rows(str(tmp_path / 'r.sqlite'))
    assert len(grey_rows) == 2 and not any(r['colour'] for r in grey_rows.values())

    colour_args = ['--images', folder, '--rates', '1,2', '--codecs', 'vorlan,jpeg', '--colour', '--vorlan', vorlan,
                   '--jobs', '2', '--db', 'r.sqlite', '--quiet']
    result = sweeping.run_sweep(colour_args, str(tmp_path))
    assert 'grey picture swept as grey: camera.png' in result.stderr
    # camera's grey JPEG row at 1 bpp is the same point and is not computed
    # again; astronaut at 1 bpp in colour is a new one.
    assert '1 of 8 rows are already' in result.stderr and '7 rows computed (0 failed)' in result.stderr
    table = sweeping.rows(str(tmp_path / 'r.sqlite'))
    assert len(table) == 9
    for key, row in grey_rows.items():
        assert table[key] == row
    colour = [r for r in table.values() if r['colour']]
    assert {r['name'] for r in colour} == {'astronaut.png'} and len(colour) == 4
    rgb = pictures.load(os.path.join(folder, 'astronaut.png'), colour=True)
    for row in colour:
        assert row['status'] == 'done', row['reason']
        assert row['picture'] == pictures.content_hash(rgb)
        assert row['bpp'] == pytest.approx(row['bytes'] * 8 / (64 * 64))  # per pixel, not per sample
        if row['codec'] == 'vorlan':
            assert abs(row['bpp'] - row['target']) <= 0.02 * row['target'], row
            compress, decompress = json.loads(row['runs'])
            assert any(s.startswith('Cb.maxRanges=') for s in compress['overrides']['settings'])
            # The colour graph measures its own output: the row's PSNR over
            # R, G and B must be the one its RMS displays give.
            mse = np.mean([_shown(decompress, f'RMS {c}') ** 2 for c in 'RGB'])
            assert row['psnr'] == pytest.approx(10 * math.log10(255 ** 2 / mse), abs=2e-3)
            assert abs(row['psnr'] - _shown(decompress, 'PSNR Y')) > 0.05
        else:
            size, psnr = _jpeg_psnr(rgb, int(row['knob']), str(tmp_path))
            assert row['bytes'] == size and row['psnr'] == pytest.approx(psnr, abs=1e-9)
    grey_jpeg = next(r for r in grey_rows.values() if r['name'] == 'astronaut.png')
    colour_jpeg = next(r for r in colour if r['codec'] == 'jpeg' and r['target'] == 1)
    assert colour_jpeg['key'] != grey_jpeg['key'] and colour_jpeg['psnr'] != grey_jpeg['psnr']

    # Both sweeps run again compute nothing; the report labels colour curves.
    again = sweeping.run_sweep(colour_args + ['--report', 'rep'], str(tmp_path))
    assert '8 of 8 rows are already' in again.stderr and 'rows computed' not in again.stderr
    assert '2 of 2 rows are already' in sweeping.run_sweep(grey_args, str(tmp_path)).stderr
    figures = json.loads((tmp_path / 'rep' / 'bd.json').read_text())
    by_name = {p['name']: p for p in figures['pictures']}
    assert by_name['astronaut.png (colour)']['anchor'] == 'JPEG colour'
    assert [c['label'] for c in by_name['camera.png']['curves']] == ['Vorlan']


def test_jpeg2000_53_is_swept_beside_97(tmp_path):
    if codecs.CODECS['jpeg2000-53'].missing():
        pytest.skip(codecs.CODECS['jpeg2000-53'].missing())
    folder = str(tmp_path / 'pictures')
    sweeping.crops(folder)
    os.remove(os.path.join(folder, 'astronaut.png'))
    sweeping.run_sweep(['--images', folder, '--rates', '0.5,1,2', '--codecs', 'j2k,j2k53', '--anchor', 'j2k',
                        '--db', 'r.sqlite', '--quiet', '--report', 'rep'], str(tmp_path))
    table = list(sweeping.rows(str(tmp_path / 'r.sqlite')).values())
    assert sorted(r['codec'] for r in table) == ['j2k'] * 3 + ['j2k53'] * 3
    assert all(r['status'] == 'done' and abs(math.log(r['bpp'] / r['target'])) < 0.05 for r in table)
    figures = json.loads((tmp_path / 'rep' / 'bd.json').read_text())
    curve, = figures['pictures'][0]['curves']
    assert curve['label'] == 'JPEG 2000 (5/3)' and curve['bdRate_pchip'] is not None
