"""Shared pieces of the module's tests: the build tree, the example graphs,
small crops of the test pictures and a way to run `vorlan --run`."""
from __future__ import annotations

import os
import struct
import subprocess
import sys

import numpy as np
import pytest

SOURCE = os.environ.get('VORLAN_SOURCE_DIR') or os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..', '..'))
BUILD = os.environ.get('VORLAN_BUILD_DIR') or os.path.join(SOURCE, 'build', 'release')
# The module from the build tree; the workbench package from the sources
# (behind it, so that the sources' vorlan/ does not hide the built one).
sys.path.insert(0, os.path.join(BUILD, 'python'))
sys.path.append(os.path.join(SOURCE, 'python'))

from vorlan_workbench.pictures import read_bmp_rgb  # noqa: E402

DATA = os.path.join(SOURCE, '..', 'shared', 'data')
EXAMPLES = os.path.join(SOURCE, 'examples')
VORLAN = os.path.join(BUILD, 'vorlan')


def write_grey_bmp(path: str, grey: np.ndarray) -> None:
    """A 24-bit BMP with R = G = B = grey, bottom row first."""
    height, width = grey.shape
    stride = (width * 3 + 3) & ~3
    rows = np.zeros((height, stride), np.uint8)
    rows[:, :width * 3] = np.repeat(grey[::-1], 3, axis=1)
    header = struct.pack('<2sIHHI', b'BM', 54 + rows.size, 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, rows.size, 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + rows.tobytes())


def graph_grey(levels: np.ndarray) -> tuple[np.ndarray, tuple[float, float]]:
    """The plane the example graphs' Grayscale conversion (Y weights) makes of
    a grey BMP, computed in the same order, and its range."""
    n = (1.0 / 255.0) * levels.astype(np.float64) + (-0.0 / 255.0)
    top = 0.0 + 0.299 * 1.0 + 0.587 * 1.0 + 0.114 * 1.0
    return 0.299 * n + 0.587 * n + 0.114 * n, (0.0, max(top, 1.0))


def run_vorlan(*args: str, cwd: str) -> str:
    result = subprocess.run([VORLAN, *args], capture_output=True, text=True, cwd=cwd)
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout


@pytest.fixture(scope='session')
def camera() -> np.ndarray:
    """camera.bmp's grey levels, 512 x 512 uint8."""
    return np.ascontiguousarray(read_bmp_rgb(os.path.join(DATA, 'camera.bmp'))[..., 0])


@pytest.fixture(scope='session')
def crop(camera: np.ndarray) -> np.ndarray:
    """A 64 x 48 piece with edges and flat parts: encodes in milliseconds."""
    return np.ascontiguousarray(camera[200:248, 220:284])
