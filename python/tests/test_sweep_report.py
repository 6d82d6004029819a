import json
import math
import sqlite3

import pytest

from vorlan_workbench import report, store, sweep

RATES = [0.125, 0.25, 0.5, 1.0]


def quality(bpp):
    # A smooth, increasing curve: about 6 dB per doubling of the rate.
    return 30.0 + 6.0 * math.log2(bpp) + 0.4 * math.sin(bpp)


def done_row(picture, name, codec, bpp, psnr, target, settings=None):
    settings = settings or {}
    return {'key': store.row_key(picture, False, codec, settings, target), 'picture': picture, 'name': name,
            'width': 8, 'height': 8, 'colour': 0, 'codec': codec, 'settings': store.canonical_settings(settings),
            'target': target, 'status': 'done', 'reason': None, 'bytes': int(bpp * 8), 'bpp': bpp, 'psnr': psnr,
            'ssim': 0.9, 'encode_seconds': 0.1, 'decode_seconds': 0.1, 'knob': 1.0, 'attempts': 1, 'runs': None,
            'program': 'test', 'finished': '2026-01-01T00:00:00+00:00'}


def test_report_recovers_a_known_rate_factor(tmp_path):
    # On every picture the test codec reaches the anchor's PSNR with 80 % of
    # its bits (-20 %) and Vorlan with 125 % (+25 %): the tables must give
    # exactly these figures with both methods, per picture and averaged.
    rows = []
    for picture in ('a', 'b'):
        for r in RATES:
            rows.append(done_row(picture, picture + '.png', 'jpeg', r, quality(r), r))
            rows.append(done_row(picture, picture + '.png', 'webp', 0.8 * r, quality(r), r))
            rows.append(done_row(picture, picture + '.png', 'vorlan', 1.25 * r, quality(r), r))
    # A picture without an anchor curve, and a failed row, are reported, not fatal.
    rows.append(done_row('c', 'c.png', 'webp', 0.5, 30.0, 0.5))
    failed = done_row('d', 'd.png', 'jpeg', 0.5, 30.0, 0.5)
    failed.update(status='failed', reason='cjpeg failed (1): broken', bpp=None, psnr=None)
    rows.append(failed)
    page = report.write(rows, str(tmp_path / 'out'), 'jpeg')
    figures = json.loads((tmp_path / 'out' / 'bd.json').read_text())
    assert figures['format'] == 'vorlan-sweep-report' and figures['anchor'] == 'jpeg'
    for entry in figures['pictures'][:2]:
        by_codec = {c['codec']: c for c in entry['curves']}
        for method in ('pchip', 'cubic'):
            assert by_codec['webp'][f'bdRate_{method}'] == pytest.approx(-20.0, abs=1e-6)
            assert by_codec['vorlan'][f'bdRate_{method}'] == pytest.approx(25.0, abs=1e-6)
    assert 'no JPEG curve' in figures['pictures'][2]['problem']
    average = {a['label']: a for a in figures['average']}
    assert average['WebP']['bdRate_pchip'] == pytest.approx(-20.0, abs=1e-6)
    assert average['WebP']['pictures'] == 2
    assert average['Vorlan']['bdPsnr_pchip'] < 0 < average['WebP']['bdPsnr_cubic']
    text = open(page, encoding='utf-8').read()
    assert '-20.00 %' in text and '+25.00 %' in text and 'cjpeg failed (1): broken' in text
    for plot in ('average.png', 'picture-1.png', 'picture-2.png', 'picture-3.png'):
        assert (tmp_path / 'out' / plot).read_bytes()[:4] == b'\x89PNG'
        assert plot in text


def test_grid_rows_draw_curves_along_one_setting():
    # Without targets, the curve runs along the axis field; the other grid
    # field tells the curves apart.
    rows = [done_row('a', 'a.png', 'vorlan', n / 1000, quality(n / 1000), None,
                     {'encoder.maxRanges': str(n), 'encoder.stepX': step})
            for step in ('4', '8') for n in (500, 250, 1000)]
    found = report.curves(rows, 'encoder.maxRanges')
    assert [c.settings for c in found] == [{'encoder.stepX': '4'}, {'encoder.stepX': '8'}]
    assert [p[0] for p in found[0].points] == [0.25, 0.5, 1.0]
    assert report.curves(rows, None)[0].points == [(0.5, quality(0.5))]


def test_store_keeps_one_row_per_point_and_refuses_foreign_files(tmp_path):
    path = str(tmp_path / 'r.sqlite')
    row = done_row('a', 'a.png', 'jpeg', 0.5, 31.0, 0.5)
    with store.Store(path) as db:
        db.put(dict(row, status='failed', reason='x', bpp=None))
        db.put(row)  # the point computed again replaces its failed row
    with store.Store(path) as db:
        assert db.statuses() == {row['key']: 'done'}
        assert list(db.rows())[0]['psnr'] == 31.0
    # The key tells apart everything that makes a different point.
    keys = {store.row_key('a', False, 'jpeg', {}, 0.5), store.row_key('a', True, 'jpeg', {}, 0.5),
            store.row_key('a', False, 'webp', {}, 0.5), store.row_key('a', False, 'jpeg', {}, 0.25),
            store.row_key('a', False, 'jpeg', {}, None), store.row_key('b', False, 'jpeg', {}, 0.5),
            store.row_key('a', False, 'jpeg', {'x.y': '1'}, 0.5)}
    assert len(keys) == 7
    newer = sqlite3.connect(path)
    newer.execute("UPDATE meta SET value = '2' WHERE key = 'version'")
    newer.commit()
    newer.close()
    with pytest.raises(store.StoreError, match='version 2'):
        store.Store(path)
    (tmp_path / 'text.sqlite').write_text('not a database at all, just text' * 40)
    with pytest.raises(store.StoreError):
        store.Store(str(tmp_path / 'text.sqlite'))
    other = sqlite3.connect(str(tmp_path / 'other.sqlite'))
    other.execute('CREATE TABLE things (x)')
    other.commit()
    other.close()
    with pytest.raises(store.StoreError, match='another program'):
        store.Store(str(tmp_path / 'other.sqlite'))


def test_plan_covers_the_sweep_once():
    grid = [('encoder.stepX', ['4', '8']), ('encoder.mode', ['size', 'least_error'])]
    tasks = sweep.plan([('h1', 'a.png'), ('h2', 'b.png')], ['jpeg', 'vorlan'], [0.25, 1.0], grid, True)
    # 2 pictures x (2 rates for JPEG + 4 combinations x 2 rates for Vorlan).
    assert len(tasks) == 2 * (2 + 8) and len({t.key for t in tasks}) == len(tasks)
    assert all(t.codec == 'vorlan' for t in tasks[:16])  # the long ones first
    alone = sweep.plan([('h1', 'a.png')], ['vorlan'], [0.25], grid, False)
    assert [t.target for t in alone] == [None] * 4
