"""examples/demo.sh as scripts use it: --json prints one JSON object and
nothing else, --output keeps the decoded picture, in grey and in colour."""
import json
import os
import shutil
import subprocess
import sys

import pytest

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'examples')
sys.path.insert(0, EXAMPLES)
from fractal_roundtrip import default_vorlan  # noqa: E402


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
