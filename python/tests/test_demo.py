"""examples/demo.sh as scripts use it: --json prints one JSON object and
nothing else, --output keeps the decoded picture, in grey and in colour."""
import json
import os
import shutil
import signal
import subprocess
import sys

import pytest

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'examples')
sys.path.insert(0, EXAMPLES)
from fractal_roundtrip import RoundTrip, default_vorlan  # noqa: E402


@pytest.mark.parametrize('colour', [False, True])
def test_demo_prints_json_and_keeps_the_picture(tmp_path, colour):
    vorlan = default_vorlan()
    if not os.access(vorlan, os.X_OK):
        pytest.skip('the vorlan program is not built')
    if shutil.which('cjpeg') is None:
        pytest.skip('cjpeg is not installed')
    output = tmp_path / ('decoded.png' if colour else 'decoded.bmp')
    command = ['bash', os.path.join(EXAMPLES, 'demo.sh'), os.path.join(EXAMPLES, 'input.png'),
               '--output', str(output), '--json'] + (['--colour'] if colour else [])
    result = subprocess.run(command, capture_output=True, text=True, cwd=tmp_path,
                            env=dict(os.environ, VORLAN=vorlan, PATH='/usr/bin:/bin'))
    assert result.returncode == 0, result.stderr
    figures = json.loads(result.stdout)
    for key in ('bytes', 'bpp', 'psnr_rgb', 'psnr_y') if colour else ('bytes', 'bpp', 'psnr'):
        assert figures[key] > 0, key
        assert figures['jpeg'][key] > 0, key
    assert figures['bpp'] == pytest.approx(figures['bytes'] * 8 / (128 * 128))
    head = output.read_bytes()[:8]
    assert head.startswith(b'\x89PNG' if colour else b'BM')
    assert sorted(os.listdir(tmp_path)) == [output.name], 'nothing else is written'


@pytest.mark.parametrize('sizes', ['flat', 'steps'])
def test_rate_search_ends_where_the_size_does_not_follow_the_ranges(sizes):
    """A container whose size stays put over a stretch of range counts makes
    the secant step land on a count already tried: the search must end with
    the nearest point, not loop."""
    trip = RoundTrip.__new__(RoundTrip)  # no picture, no program: only the search
    trip.pixels = 256 * 256
    encodes = []

    def fractal(max_ranges, **options):
        encodes.append(max_ranges)
        size = 900 if sizes == 'flat' else 900 + 400 * (max_ranges // 5000)
        return {'size': size, 'bpp': size * 8 / trip.pixels, 'options': {'max_ranges': max_ranges, **options}}

    def endless(signum, frame):
        raise AssertionError('the search still runs after 10 s')

    trip.fractal = fractal
    previous = signal.signal(signal.SIGALRM, endless)
    signal.alarm(10)
    try:
        best, tried = trip.fractal_at_bpp(0.5, tries=6)
    finally:
        signal.alarm(0)
        signal.signal(signal.SIGALRM, previous)
    assert len(encodes) == len(set(encodes)) == len(tried) <= 6
    assert best in tried
