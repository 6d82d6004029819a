"""vorlan.filters() and vorlan.Graph: the registry as `vorlan --inspect`
shows it, and graphs loaded, set by name, saved and run."""
from __future__ import annotations

import json
import os
import signal
import threading
import time

import numpy as np
import pytest

import vorlan
from conftest import EXAMPLES, graph_grey, run_vorlan, write_grey_bmp

# Unpacker (1010) -> HV decoder (140) -> Mono display (60), the code read by
# a File Input Stream (10) captioned "source".
DECODE_AND_SHOW = {
    'format': 'vorlan-graph', 'version': 1,
    'nodes': [
        {'id': 1, 'filterId': 10, 'caption': 'source', 'x': 10, 'y': 10, 'settings': {'path': 'crop.hvf'}},
        {'id': 2, 'filterId': 1010, 'caption': 'unpacker', 'x': 200, 'y': 10, 'settings': {}},
        {'id': 3, 'filterId': 140, 'caption': 'decoder', 'x': 400, 'y': 10,
         'settings': {'mode': 'max_iterations', 'resolutionX': 1, 'resolutionY': 1, 'maxIterations': 20,
                      'maxRmsError': 5.0, 'quality': 0.95, 'postProcessing': False, 'feedback': False,
                      'drawRanges': False}},
        {'id': 4, 'filterId': 60, 'caption': 'shown', 'x': 600, 'y': 10, 'settings': {}},
    ],
    'edges': [{'from': {'node': 'source', 'pin': 2}, 'to': {'node': 'unpacker', 'pin': 2}}]
    + [{'from': {'node': 'unpacker', 'pin': name}, 'to': {'node': 'decoder', 'pin': name}}
       for name in ('HDR', 'SI', 'OI', 'TRN', 'DP', 'DF', 'RTD', 'RTT')]
    + [{'from': {'node': 'decoder', 'pin': 'Out'}, 'to': {'node': 'shown', 'pin': 2}}],
}


def test_filters_agree_with_inspect(tmp_path):
    listed = json.loads(run_vorlan('--inspect', '--json', cwd=tmp_path))['filters']
    assert vorlan.filters() == listed
    by_id = {f['id']: f for f in vorlan.filters()}
    assert {130, 140, 1000, 1010} <= set(by_id)
    encoder = by_id[130]
    assert 'maxRanges' in [s['identifier'] for s in encoder['settings']]
    assert any(p['name'] == 'HDR' for p in encoder['pins'])
    assert vorlan.rejected_libraries() == []


def test_graph_run_decodes_as_decode_does(tmp_path, crop):
    code = vorlan.encode(crop, ranges=80, threads=1)
    (tmp_path / 'crop.hvf').write_bytes(code)
    (tmp_path / 'show.json').write_text(json.dumps(DECODE_AND_SHOW))
    graph = vorlan.Graph.load(tmp_path / 'show.json')
    assert [n['caption'] for n in graph.nodes] == ['source', 'unpacker', 'decoder', 'shown']
    report = graph.run(paths={'source': tmp_path / 'crop.hvf'})
    assert report.ok and report.outcome == 'Done'
    shown = report.displays['shown']
    assert shown.problem == '' and shown.ranges == [(0.0, 255.0)]
    np.testing.assert_array_equal(shown.array, vorlan.decode(code, post_processing=False))
    record = report.record
    assert record['format'] == 'vorlan-run-report' and record['exitCode'] == 0
    assert [n['state'] for n in record['nodes']] == ['Done'] * 4
    assert record['overrides']['paths'] == [{'caption': 'source', 'file': str(tmp_path / 'crop.hvf')}]

    for field, value in (('resolutionX', 2), ('resolutionY', 2), ('postProcessing', True)):
        graph.set(f'decoder.{field}', value)
    assert graph.get('decoder.resolutionX') == '2'
    wide = graph.run().displays['shown'].array
    assert wide.shape == (2 * crop.shape[0], 2 * crop.shape[1])
    np.testing.assert_array_equal(wide, vorlan.decode(code, scale=2, post_processing=True))


def test_compress_graph_texts_and_saved_settings(tmp_path, crop):
    picture = tmp_path / 'crop.bmp'
    write_grey_bmp(str(picture), crop)
    graph = vorlan.Graph.load(os.path.join(EXAMPLES, 'compress.gph'))
    graph.set('encoder.maxRanges', 90)
    graph.set('encoder.mode', 'size')
    graph.save(tmp_path / 'copy.gph')
    graph.save(tmp_path / 'copy.json', text=True)
    for saved in ('copy.gph', 'copy.json'):
        again = vorlan.Graph.load(tmp_path / saved)
        assert again.get('encoder.maxRanges') == '90' and again.get('encoder.mode') == 'size'
    report = graph.run(paths={'source': picture, 'target': tmp_path / 'out.hvf'})
    assert report.record['overrides']['settings'] == ['encoder.maxRanges=90', 'encoder.mode=size']
    plane, value_range = graph_grey(crop)
    assert (tmp_path / 'out.hvf').read_bytes() == vorlan.encode(plane, value_range=value_range, mode='size',
                                                                  ranges=90, threads=2)

    psnr = vorlan.Graph.load(os.path.join(EXAMPLES, 'decompress.gph'))
    report = psnr.run(paths={'source': tmp_path / 'out.hvf', 'target': tmp_path / 'decoded.bmp', 'original': picture})
    assert set(report.texts) == {'PSNR', 'RMS'} and report.text_types['PSNR'] == 'Float'
    assert 15 < float(report.texts['PSNR']) < 60


def test_refusals_name_what_is_valid(tmp_path):
    graph = vorlan.Graph.load(os.path.join(EXAMPLES, 'compress.gph'))
    with pytest.raises(vorlan.Error, match='no node is captioned "coder".*"encoder"'):
        graph.set('coder.maxRanges', 5)
    with pytest.raises(vorlan.Error, match='no setting "maxRange".*maxRanges'):
        graph.set('encoder.maxRange', 5)
    with pytest.raises(vorlan.Error, match='maxRanges'):
        graph.set('encoder.maxRanges', 'many')
    with pytest.raises(vorlan.Error, match='CAPTION.FIELD'):
        graph.set('encoder', 5)
    with pytest.raises(vorlan.Error, match='not a setting value'):
        graph.set('encoder.maxRanges', [5])
    with pytest.raises(vorlan.Error, match='Failed to load graph'):
        vorlan.Graph.load(tmp_path / 'missing.gph')
    (tmp_path / 'junk.gph').write_bytes(b'\x01\x02\x03')
    with pytest.raises(vorlan.Error, match='Failed to load graph'):
        vorlan.Graph.load(tmp_path / 'junk.gph')

    with pytest.raises(vorlan.RunError) as failed:
        graph.run(paths={'source': tmp_path / 'missing.bmp', 'target': tmp_path / 'out.hvf'})
    assert 'Error on filter : source' in str(failed.value)
    assert failed.value.report.exit_code == 1 and failed.value.report.record['exitCode'] == 1
    with pytest.raises(vorlan.RunError, match='no file stream node is captioned "nowhere"'):
        graph.run(paths={'nowhere': 'x.bmp'})
    with pytest.raises(vorlan.Error, match='timeout'):
        graph.run(timeout=-1)


def _slow_graph(tmp_path, camera) -> tuple[vorlan.Graph, dict]:
    picture = tmp_path / 'camera.bmp'
    write_grey_bmp(str(picture), camera)
    graph = vorlan.Graph.load(os.path.join(EXAMPLES, 'compress.gph'))
    for field, value in (('maxRanges', 60000), ('stepX', 1), ('stepY', 1), ('maxRangeFactor', 4)):
        graph.set(f'encoder.{field}', value)
    return graph, {'source': picture, 'target': tmp_path / 'out.hvf'}


def test_timeout_and_interrupt_stop_a_long_run(tmp_path, camera):
    graph, paths = _slow_graph(tmp_path, camera)
    started = time.monotonic()
    with pytest.raises(vorlan.RunError, match='timeout') as failed:
        graph.run(paths=paths, timeout=0.3)
    assert time.monotonic() - started < 1.5
    assert failed.value.report.record['nodes'][3]['state'] != 'Done'

    sent = []
    timer = threading.Timer(0.3, lambda: (sent.append(time.monotonic()), os.kill(os.getpid(), signal.SIGINT)))
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        graph.run(paths=paths)
    ended = time.monotonic()
    timer.join()
    assert sent and ended - sent[0] < 1.0
    assert not (tmp_path / 'out.hvf').exists()
