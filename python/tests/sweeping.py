"""Helpers of the vorlan-sweep tests: small crops of the test pictures, the
command as a user runs it, and stand-ins for rival tools that fail, crawl or
kill the worker that runs them."""
import os
import shutil
import sqlite3
import stat
import subprocess
import sys

import pytest
from PIL import Image

PYTHON_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE_DIR = os.path.dirname(PYTHON_DIR)
DATA_DIR = os.environ.get('VORLAN_TEST_DATA', os.path.join(SOURCE_DIR, '..', 'shared', 'data'))
TIME_COLUMNS = ('encode_seconds', 'decode_seconds', 'finished')


def vorlan_or_skip():
    vorlan = os.environ.get('VORLAN') or os.path.join(SOURCE_DIR, 'build', 'release', 'vorlan')
    if not os.access(vorlan, os.X_OK):
        pytest.skip('no built vorlan (VORLAN)')
    return vorlan


def crops(folder, size=64):
    """Two size x size crops of the test pictures as PNG files in `folder`."""
    os.makedirs(folder, exist_ok=True)
    made = []
    for name, box in (('camera.bmp', (200, 100)), ('astronaut.bmp', (150, 50))):
        path = os.path.join(DATA_DIR, name)
        if not os.path.exists(path):
            pytest.skip(f'{path} is missing')
        out = os.path.join(folder, name.replace('.bmp', '.png'))
        with Image.open(path) as img:
            img.crop((box[0], box[1], box[0] + size, box[1] + size)).save(out)
        made.append(out)
    return made


def sweep_command():
    """build/<preset>/vorlan-sweep under CTest, else the package's module."""
    launcher = os.environ.get('VORLAN_SWEEP')
    if launcher and os.access(launcher, os.X_OK):
        return [launcher]
    return ['/usr/bin/python3', '-m', 'vorlan_workbench.sweep_main']


def environment(path_dir=None, scratch=None):
    """The environment of a sweep in a test: the package importable, the
    source tree's graphs, `path_dir` first on PATH, and scratch folders in
    `scratch` (so that a killed sweep leaves them in the test's folder)."""
    env = dict(os.environ)
    if scratch:
        os.makedirs(scratch, exist_ok=True)
        env['TMPDIR'] = scratch
    env['PYTHONPATH'] = PYTHON_DIR + os.pathsep + env.get('PYTHONPATH', '')
    env.setdefault('VORLAN_EXAMPLES', os.path.join(SOURCE_DIR, 'examples'))
    if path_dir:
        env['PATH'] = path_dir + os.pathsep + env['PATH']
    return env


def run_sweep(args, cwd, path_dir=None, check=True, timeout=300):
    result = subprocess.run(sweep_command() + list(args), cwd=cwd,
                            env=environment(path_dir, os.path.join(cwd, 'scratch')), capture_output=True,
                            text=True, timeout=timeout)
    if check and result.returncode != 0:
        raise AssertionError(f'vorlan-sweep exited {result.returncode}:\n{result.stdout}\n{result.stderr}')
    return result


def tool(folder, name, body):
    """Writes an executable shell script `name` into `folder`; REAL in it is
    the real tool of that name."""
    os.makedirs(folder, exist_ok=True)
    real = shutil.which(name) or '/bin/false'
    path = os.path.join(folder, name)
    with open(path, 'w') as f:
        f.write('#!/bin/sh\n' + body.replace('REAL', real) + '\n')
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)
    return path


def worker_killer(folder, name='cjpeg'):
    """A `name` that kills the process that started it (a sweep worker) the
    first time it runs, and is the real tool afterwards."""
    marker = os.path.join(folder, f'{name}.killed')
    return tool(folder, name, f'if mkdir "{marker}" 2>/dev/null; then kill -9 $PPID; sleep 5; exit 1; fi\n'
                              'exec REAL "$@"')


def rows(db):
    connection = sqlite3.connect(db)
    connection.row_factory = sqlite3.Row
    try:
        return {r['key']: dict(r) for r in connection.execute('SELECT * FROM results')}
    finally:
        connection.close()


def count(db):
    """Rows in `db` so far (0 while the sweep has not made its tables)."""
    try:
        return len(rows(db)) if os.path.exists(db) else 0
    except sqlite3.OperationalError:
        return 0


def without_times(table):
    """Rows without the columns and report keys that hold times."""
    import json

    from vorlan_workbench.fractal import without_times as strip

    out = {}
    for key, row in table.items():
        row = {k: v for k, v in row.items() if k not in TIME_COLUMNS}
        if row.get('runs'):
            row['runs'] = strip(json.loads(row['runs']))
        out[key] = row
    return out


sys.path.insert(0, PYTHON_DIR)
