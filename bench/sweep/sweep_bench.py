#!/usr/bin/python3
"""What vorlan-sweep costs and gives, measured in one run on one picture:

  overhead  a sweep of N Vorlan points on one job (--grid encoder.maxRanges=...,
            each point one compress and one decompress run) against the same
            `vorlan --run` calls made one after the other by a bare loop;
  scaling   the sweep on 2 jobs against 1 job, beside what this machine gives
            two independent bare loops (each half of the points) against one;
  cluster   the same sweep on a Dask scheduler with two workers on 127.0.0.1:
            its rows must equal the local pool's, times aside.

  sweep_bench.py [--picture FILE] [--points 20] [--first 500] [--step 500]
                 [--repeat N] [--no-dask] [--json OUT.json]

Run from the source tree after a release build (build/release/vorlan and
build/release/vorlan-sweep), on a machine that is otherwise quiet (the load
averages before and after are printed: on a busy machine the ratios say
more about the neighbours than about the sweep). With --repeat N every
timing is taken N times, the four kinds in turn, and the shortest kept.
Wall times in seconds; the ratios are what the goals name (overhead at most
10 %, scaling at least 90 %).
"""
from __future__ import annotations

import argparse
import json
import os
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
BUILD = os.path.join(SOURCE, 'build', 'release')
sys.path.insert(0, os.path.join(SOURCE, 'python'))

from vorlan_workbench import pictures  # noqa: E402
from vorlan_workbench.fractal import without_times  # noqa: E402

TIME_COLUMNS = ('encode_seconds', 'decode_seconds', 'finished')


def bare_calls(vorlan: str, work: str, picture: str, ranges: list[int]) -> float:
    """The sweep's vorlan runs for these points, one after the other, in
    `work`: the same command lines, reports included."""
    examples = os.path.join(SOURCE, 'examples')
    start = time.perf_counter()
    for n in ranges:
        code, decoded = os.path.join(work, 'code.bin'), os.path.join(work, 'decoded.bmp')
        subprocess.run([vorlan, '--run', os.path.join(examples, 'compress.gph'), '--quiet', '--report',
                        os.path.join(work, 'compress.json'), '--path', f'source={picture}', '--path',
                        f'target={code}', '--set', f'encoder.maxRanges={n}', '--set', 'encoder.threadCount=1'],
                       check=True, cwd=work, capture_output=True)
        subprocess.run([vorlan, '--run', os.path.join(examples, 'decompress.gph'), '--quiet', '--report',
                        os.path.join(work, 'decompress.json'), '--path', f'source={code}', '--path',
                        f'target={decoded}', '--path', f'original={picture}'],
                       check=True, cwd=work, capture_output=True)
        pictures.read_grey(decoded)
    return time.perf_counter() - start


def bare_parallel(vorlan: str, root: str, picture: str, ranges: list[int]) -> float:
    """Two independent bare loops at once, each over every other point."""
    times = []

    def loop(i: int) -> None:
        work = os.path.join(root, f'bare{i}')
        os.makedirs(work, exist_ok=True)
        times.append(bare_calls(vorlan, work, picture, ranges[i::2]))

    start = time.perf_counter()
    threads = [threading.Thread(target=loop, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return time.perf_counter() - start


def sweep(root: str, picture: str, ranges: list[int], db: str, extra: list[str]) -> float:
    command = [os.path.join(BUILD, 'vorlan-sweep'), '--images', picture, '--codecs', 'vorlan', '--grid',
               'encoder.maxRanges=' + ','.join(map(str, ranges)), '--db', db, '--quiet'] + extra
    start = time.perf_counter()
    subprocess.run(command, check=True, cwd=root, capture_output=True)
    return time.perf_counter() - start


def rows(db: str) -> dict:
    connection = sqlite3.connect(db)
    connection.row_factory = sqlite3.Row
    out = {}
    for r in connection.execute('SELECT * FROM results'):
        row = {k: r[k] for k in r.keys() if k not in TIME_COLUMNS}
        row['runs'] = without_times(json.loads(row['runs'])) if row['runs'] else None
        out[row['key']] = row
    connection.close()
    return out


def dask_sweep(root: str, picture: str, ranges: list[int], db: str) -> float:
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        port = s.getsockname()[1]
    address = f'tcp://127.0.0.1:{port}'
    env = dict(os.environ, PYTHONPATH=os.path.join(SOURCE, 'python'))
    processes = [subprocess.Popen(['dask-scheduler', '--host', '127.0.0.1', '--port', str(port), '--no-dashboard'],
                                  env=env, cwd=root, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  start_new_session=True)]
    for i in range(2):
        processes.append(subprocess.Popen(['dask-worker', address, '--host', '127.0.0.1', '--nthreads', '1',
                                           '--no-dashboard', '--local-directory', os.path.join(root, f'w{i}')],
                                          env=env, cwd=root, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                          start_new_session=True))
    try:
        from distributed import Client

        deadline = time.monotonic() + 60
        while True:
            try:
                with Client(address, timeout=5) as client:
                    client.wait_for_workers(2, timeout=30)
                break
            except (OSError, TimeoutError):
                if time.monotonic() > deadline:
                    raise
        return sweep(root, picture, ranges, db, ['--scheduler', address])
    finally:
        for p in processes[::-1]:
            os.killpg(p.pid, signal.SIGTERM)
        for p in processes:
            p.wait()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--picture', default=os.path.join(SOURCE, '..', 'shared', 'data', 'camera.bmp'))
    parser.add_argument('--points', type=int, default=20)
    parser.add_argument('--first', type=int, default=500, help='maxRanges of the first point')
    parser.add_argument('--step', type=int, default=500, help='maxRanges between points')
    parser.add_argument('--repeat', type=int, default=1, help='take each timing this many times, keep the shortest')
    parser.add_argument('--no-dask', action='store_true')
    parser.add_argument('--json', help='write the figures here too')
    args = parser.parse_args()
    vorlan = os.path.join(BUILD, 'vorlan')
    for program in (vorlan, os.path.join(BUILD, 'vorlan-sweep')):
        if not os.access(program, os.X_OK):
            raise SystemExit(f'{program} is not built (cmake --build --preset release)')
    ranges = [args.first + i * args.step for i in range(args.points)]
    root = tempfile.mkdtemp(prefix='vorlan-sweep-bench-')
    try:
        # The picture as the sweep gives it to vorlan: 8-bit grey in a BMP.
        picture = os.path.join(root, 'picture.bmp')
        pictures.write_bmp(picture, pictures.load(args.picture))
        os.makedirs(os.path.join(root, 'bare'))
        figures: dict = {'picture': os.path.abspath(args.picture), 'points': ranges,
                         'load_before': os.getloadavg(), 'repeat': max(1, args.repeat)}

        def fresh(db: str) -> str:
            for path in (db, db + '-wal', db + '-shm'):
                if os.path.exists(path):
                    os.remove(path)
            return db

        timings = {
            'bare_1': lambda: bare_calls(vorlan, os.path.join(root, 'bare'), picture, ranges),
            'sweep_1': lambda: sweep(root, picture, ranges, fresh(os.path.join(root, 'j1.sqlite')), ['--jobs', '1']),
            'bare_2': lambda: bare_parallel(vorlan, root, picture, ranges),
            'sweep_2': lambda: sweep(root, picture, ranges, fresh(os.path.join(root, 'j2.sqlite')), ['--jobs', '2']),
        }
        runs: dict[str, list[float]] = {name: [] for name in timings}
        for _ in range(figures['repeat']):
            for name, timing in timings.items():
                runs[name].append(timing())
        figures.update({name: min(times) for name, times in runs.items()})
        figures['runs'] = runs
        figures['overhead'] = figures['sweep_1'] / figures['bare_1'] - 1
        figures['machine_speedup'] = figures['bare_1'] / figures['bare_2']
        figures['sweep_speedup'] = figures['sweep_1'] / figures['sweep_2']
        figures['scaling'] = figures['sweep_speedup'] / figures['machine_speedup']
        local = rows(os.path.join(root, 'j2.sqlite'))
        figures['rows_1_equal_2'] = rows(os.path.join(root, 'j1.sqlite')) == local
        if not args.no_dask and shutil.which('dask-scheduler'):
            figures['dask'] = dask_sweep(root, picture, ranges, os.path.join(root, 'dask.sqlite'))
            figures['rows_dask_equal_local'] = rows(os.path.join(root, 'dask.sqlite')) == local
        print(f"{len(ranges)} Vorlan points on {os.path.basename(args.picture)}, maxRanges {ranges[0]} ... {ranges[-1]}")
        print(f"bare vorlan --run calls, one after the other   {figures['bare_1']:8.2f} s")
        print(f"vorlan-sweep --jobs 1                           {figures['sweep_1']:8.2f} s   "
              f"overhead {100 * figures['overhead']:+.1f} %")
        print(f"two independent bare loops                      {figures['bare_2']:8.2f} s   "
              f"speed-up {figures['machine_speedup']:.2f}")
        print(f"vorlan-sweep --jobs 2                           {figures['sweep_2']:8.2f} s   "
              f"speed-up {figures['sweep_speedup']:.2f} = {100 * figures['scaling']:.0f} % of the machine's")
        print(f"rows of 1 and 2 jobs equal (times aside)        {figures['rows_1_equal_2']}")
        if 'dask' in figures:
            print(f"vorlan-sweep on Dask, 2 workers                 {figures['dask']:8.2f} s   "
                  f"rows equal the local pool's: {figures['rows_dask_equal_local']}")
        figures['load_after'] = os.getloadavg()
        print('load averages (1, 5, 15 min) before ' + ' '.join(f'{v:.2f}' for v in figures['load_before']) +
              ', after ' + ' '.join(f'{v:.2f}' for v in figures['load_after']) +
              (f'; shortest of {figures["repeat"]} runs each' if figures['repeat'] > 1 else ''))
        if args.json:
            with open(args.json, 'w') as f:
                json.dump(figures, f, indent=1)
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == '__main__':
    main()
