import os
import shutil
import signal
import socket
import subprocess
import time

import pytest

import sweeping

pytest.importorskip('distributed')


def _free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


class Cluster:
    """A dask-scheduler and two dask-worker processes on 127.0.0.1, each in a
    session of its own so that stopping one stops its children too."""

    def __init__(self, folder, path_dir):
        self.folder = folder
        self.address = f'tcp://127.0.0.1:{_free_port()}'
        self.env = sweeping.environment(path_dir, os.path.join(folder, 'scratch'))
        self.env['DASK_DISTRIBUTED__WORKER__DAEMON'] = 'False'
        self.processes = []

    def _start(self, command, name):
        log = open(os.path.join(self.folder, name + '.log'), 'w')
        self.processes.append(subprocess.Popen(command, cwd=self.folder, env=self.env, stdout=log,
                                               stderr=subprocess.STDOUT, start_new_session=True))

    def start(self):
        port = self.address.rsplit(':', 1)[1]
        self._start([shutil.which('dask-scheduler') or 'dask-scheduler', '--host', '127.0.0.1', '--port', port,
                     '--no-dashboard', '--no-show'], 'scheduler')
        for i in range(2):
            self._start([shutil.which('dask-worker') or 'dask-worker', self.address, '--host', '127.0.0.1',
                         '--nthreads', '1', '--no-dashboard', '--name', f'w{i}',
                         '--local-directory', os.path.join(self.folder, f'w{i}')], f'worker{i}')
        from distributed import Client

        deadline = time.monotonic() + 60
        while True:
            try:
                with Client(self.address, timeout=5) as client:
                    client.wait_for_workers(2, timeout=max(1.0, deadline - time.monotonic()))
                return
            except (OSError, TimeoutError):
                if time.monotonic() > deadline:
                    raise

    def stop(self):
        for p in reversed(self.processes):
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGTERM)
        for p in reversed(self.processes):
            try:
                p.wait(timeout=15)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()


def test_a_dask_cluster_gives_the_rows_of_a_local_pool(tmp_path):
    vorlan = sweeping.vorlan_or_skip()
    if shutil.which('dask-scheduler') is None or shutil.which('dask-worker') is None:
        pytest.skip('dask-scheduler/dask-worker are not installed (python3-distributed)')
    sweeping.crops(str(tmp_path / 'pictures'), 48)
    args = ['--images', str(tmp_path / 'pictures'), '--rates', '0.5,1', '--codecs', 'vorlan,jpeg',
            '--vorlan', vorlan, '--quiet']
    sweeping.run_sweep(args + ['--db', 'local.sqlite', '--jobs', '2'], str(tmp_path))
    # On the cluster, the first cjpeg run kills its worker: the scheduler
    # hands the worker's points to the other one and nothing is lost.
    tools = str(tmp_path / 'tools')
    sweeping.worker_killer(tools)
    cluster = Cluster(str(tmp_path), tools)
    try:
        cluster.start()
        result = sweeping.run_sweep(args + ['--db', 'dask.sqlite', '--scheduler', cluster.address], str(tmp_path),
                                    tools, timeout=240)
    finally:
        cluster.stop()
    assert os.path.isdir(os.path.join(tools, 'cjpeg.killed')), 'no worker was killed'
    local = sweeping.rows(str(tmp_path / 'local.sqlite'))
    remote = sweeping.rows(str(tmp_path / 'dask.sqlite'))
    assert len(local) == 8 and all(r['status'] == 'done' for r in local.values())
    assert '8 rows computed (0 failed)' in result.stderr
    assert sweeping.without_times(remote) == sweeping.without_times(local)
