"""Where a sweep's tasks run: a pool of local processes, or the workers of a
Dask distributed cluster. Either way the results come back to the client,
which alone writes the database.

`Pool.results(tasks)` yields (task, row) as rows are finished, in any
order. A worker that is lost (killed, out of memory, its machine gone)
loses nothing: the tasks it held are run again elsewhere. A task whose
run was stopped (RunInterrupted) or that outlived three workers yields
(task, None): no row, computed again by the next sweep.
"""
from __future__ import annotations

import concurrent.futures as futures
import multiprocessing
import os
import signal
import sys
from typing import Iterator, Optional, Sequence

import numpy as np

from .sweep import Environment, Task, compute, failed_row
from .tools import RunInterrupted

# How often a task may see its worker die before the sweep gives it up.
LOST_WORKER_LIMIT = 3


class _Ending(BaseException):
    """SIGTERM in a local worker: the client is stopping the sweep."""


def _stop(number, frame):
    raise _Ending


def _worker_start() -> None:
    # Only the client decides when a sweep stops: Ctrl+C reaches it and it
    # ends the workers with SIGTERM, which unwinds the point under way
    # (subprocess.run kills the tool it waits for, the scratch folder is
    # removed) before the worker leaves.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, _stop)


def _compute_or_none(task: Task, pixels: np.ndarray, env: Environment) -> Optional[dict]:
    try:
        return compute(task, pixels, env)
    except RunInterrupted:
        return None


def _compute_in_worker(task: Task, pixels: np.ndarray, env: Environment) -> Optional[dict]:
    try:
        return _compute_or_none(task, pixels, env)
    except _Ending:
        os._exit(128 + signal.SIGTERM)


class LocalPool:
    """`jobs` worker processes on this machine (a fresh forkserver, so that
    the workers hold none of the client's open files)."""

    def __init__(self, jobs: int, env: Environment, log=None):
        self.jobs = max(1, jobs)
        self.env = env
        self.log = log or (lambda text: print(text, file=sys.stderr))
        self.executor: Optional[futures.ProcessPoolExecutor] = None

    def _start(self) -> futures.ProcessPoolExecutor:
        context = multiprocessing.get_context('forkserver')
        self.executor = futures.ProcessPoolExecutor(self.jobs, mp_context=context, initializer=_worker_start)
        return self.executor

    def results(self, tasks: Sequence[Task], pixels: dict[str, np.ndarray]) -> Iterator[tuple[Task, Optional[dict]]]:
        losses = {t.key: 0 for t in tasks}
        pending = list(tasks)
        while pending:
            executor = self._start()
            running = {executor.submit(_compute_in_worker, t, pixels[t.picture], self.env): t for t in pending}
            pending = []
            broken = finished = False
            try:
                for future in futures.as_completed(running):
                    task = running[future]
                    try:
                        row = future.result()
                    except futures.process.BrokenProcessPool:
                        broken = True
                        losses[task.key] += 1
                        if losses[task.key] < LOST_WORKER_LIMIT:
                            pending.append(task)
                        else:
                            self.log(f'vorlan-sweep: {task.name} ({task.codec}) lost {LOST_WORKER_LIMIT} workers; '
                                     f'left for the next sweep')
                            yield task, None
                        continue
                    except Exception as error:  # a fault of the sweep itself: keep it in the row
                        row = failed_row(task, None, self.env.program, f'{type(error).__name__}: {error}')
                    yield task, row
                finished = True
            finally:
                if not finished:  # stopped: end the points under way now
                    for process in list(getattr(executor, '_processes', {}).values()):
                        process.terminate()
                executor.shutdown(wait=True, cancel_futures=True)
                self.executor = None
            if broken and pending:
                self.log(f'vorlan-sweep: a worker was lost; running {len(pending)} unfinished points again')

    def close(self) -> None:
        if self.executor is not None:
            self.executor.shutdown(wait=False, cancel_futures=True)


class DaskPool:
    """The workers of a running Dask scheduler (`tcp://HOST:PORT`). Each
    picture's samples are scattered once; Dask runs a lost worker's tasks
    again on the others by itself."""

    def __init__(self, address: str, env: Environment, log=None, timeout: float = 30.0):
        from distributed import Client

        self.log = log or (lambda text: print(text, file=sys.stderr))
        self.env = env
        try:
            self.client = Client(address, timeout=timeout, set_as_default=False)
        except (OSError, TimeoutError) as error:
            raise ConnectionError(f'no Dask scheduler at {address}: {error}') from error

    def workers(self) -> int:
        return len(self.client.scheduler_info().get('workers', {}))

    def results(self, tasks: Sequence[Task], pixels: dict[str, np.ndarray]) -> Iterator[tuple[Task, Optional[dict]]]:
        from distributed import as_completed
        from distributed.scheduler import KilledWorker

        needed = {t.picture for t in tasks}
        scattered = {digest: self.client.scatter(pixels[digest], broadcast=False, hash=True) for digest in needed}
        env = self.client.scatter(self.env, broadcast=True, hash=True)
        running = {}
        for task in tasks:
            future = self.client.submit(_compute_or_none, task, scattered[task.picture], env,
                                        key=f'vorlan-sweep-{task.key}', pure=False, retries=0)
            running[future.key] = (future, task)
        try:
            for future in as_completed([f for f, _ in running.values()], loop=self.client.loop):
                task = running[future.key][1]
                try:
                    row = future.result()
                except KilledWorker:
                    self.log(f'vorlan-sweep: {task.name} ({task.codec}) killed the workers that ran it; '
                             f'left for the next sweep')
                    row = None
                except Exception as error:  # the cluster's, not the point's: compute returns failures as rows
                    self.log(f'vorlan-sweep: {task.name} ({task.codec}): {type(error).__name__}: {error}; '
                             f'left for the next sweep')
                    row = None
                yield task, row
                future.release()
        finally:
            for future, _ in running.values():
                if not future.done():
                    future.cancel()

    def close(self) -> None:
        self.client.close()


def default_jobs() -> int:
    return len(os.sched_getaffinity(0)) if hasattr(os, 'sched_getaffinity') else (os.cpu_count() or 1)
