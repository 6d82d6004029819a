"""Running `vorlan` as a user does and measuring what it costs.

`measured` runs one command under /usr/bin/time and returns its exit code,
wall-clock seconds, processor seconds (user + system: on a shared machine the
figure that does not depend on what else runs) and peak resident memory (MB,
10^6 bytes). `signalled`
starts a command, sends it a signal once a condition holds and returns how
long the program took to end after the signal.
"""
import os
import signal
import subprocess
import tempfile
import time
from dataclasses import dataclass
from typing import Callable, Optional, Sequence

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def default_vorlan() -> str:
    return os.environ.get('VORLAN', os.path.join(ROOT, 'build', 'release', 'vorlan'))


@dataclass
class Measured:
    exit: int
    seconds: float      # wall clock
    peak_mb: float      # largest resident set, 10^6 bytes
    stderr: str
    stdout: str
    processor: float = float('nan')  # user + system seconds

    def last_error(self) -> str:
        """The last line of stderr that is not a progress line."""
        lines = [line for line in self.stderr.splitlines() if line.strip() and ' | filter ' not in line]
        return lines[-1] if lines else ''


def measured(command: Sequence[str], cwd: Optional[str] = None, timeout: float = 600.0) -> Measured:
    """Runs `command` under GNU time; `timeout` seconds at most."""
    with tempfile.NamedTemporaryFile('r', suffix='.time') as stats:
        full = ['/usr/bin/time', '-q', '-o', stats.name, '-f', '%U %S %e %M'] + list(command)
        try:
            result = subprocess.run(full, capture_output=True, text=True, cwd=cwd, timeout=timeout)
        except subprocess.TimeoutExpired as expired:
            return Measured(-1, timeout, float('nan'), f'timed out after {timeout} s', str(expired.stdout or ''))
        fields = stats.read().split()
    if len(fields) >= 4:
        user, system, seconds, kilobytes = (float(f) for f in fields[-4:])
    else:
        user = system = seconds = kilobytes = float('nan')
    return Measured(result.returncode, seconds, kilobytes * 1024 / 1e6, result.stderr, result.stdout, user + system)


@dataclass
class Signalled:
    exit: int                 # the program's exit code, -1 when it had to be killed
    after_signal: float       # seconds from the signal to the end of the program
    signalled_at: float       # seconds from the start to the signal
    stderr: str


def signalled(command: Sequence[str], sig: int, ready: Callable[[float], bool], limit: float = 60.0,
              cwd: Optional[str] = None) -> Signalled:
    """Starts `command`, sends `sig` once `ready(seconds since start)` is true
    and waits up to `limit` seconds for the end."""
    with tempfile.TemporaryFile('w+') as err:
        start = time.monotonic()
        process = subprocess.Popen(list(command), stdout=subprocess.DEVNULL, stderr=err, cwd=cwd)
        while not ready(time.monotonic() - start) and process.poll() is None:
            time.sleep(0.002)
        sent = time.monotonic()
        if process.poll() is None:
            process.send_signal(sig)
        try:
            code = process.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            code = -1
        ended = time.monotonic()
        err.seek(0)
        return Signalled(code, ended - sent, sent - start, err.read())


SIGNAL_NAMES = {signal.SIGINT: 'SIGINT', signal.SIGTERM: 'SIGTERM', signal.SIGHUP: 'SIGHUP'}
