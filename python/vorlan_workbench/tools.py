"""Running the command-line tools a sweep drives (vorlan and the rival
codecs), and telling a failure that belongs to the point from a stop that
only interrupted it."""
from __future__ import annotations

import os
import signal
from typing import Sequence

# Exit statuses of a vorlan run that a signal stopped (128 + SIGHUP, SIGINT,
# SIGTERM), and the signals that stop a sweep rather than fault a tool.
STOPPED_STATUSES = {129, 130, 143}
STOP_SIGNALS = {signal.SIGHUP, signal.SIGINT, signal.SIGTERM, signal.SIGKILL}


class RunInterrupted(RuntimeError):
    """A tool was stopped by a signal (Ctrl+C, a killed worker): the point is
    not finished and must be computed again, not recorded as failed."""


class RunFailed(RuntimeError):
    """A run ended with an error that belongs to the point (a damaged picture,
    a setting the graph refuses, a tool that failed or crashed)."""


def check_status(command: Sequence[str], status: int, message: str) -> None:
    """Raises RunInterrupted for a status that a stopping signal caused,
    RunFailed for any other non-zero one (a crash included)."""
    if status == 0:
        return
    name = os.path.basename(command[0])
    if status in STOPPED_STATUSES or (status < 0 and -status in STOP_SIGNALS):
        number = -status if status < 0 else status - 128
        raise RunInterrupted(f'{name} was stopped by signal {number}')
    if status < 0:
        raise RunFailed(f'{name} crashed (signal {-status}): {message.strip()[-600:]}')
    raise RunFailed(f'{name} failed ({status}): {message.strip()[-600:]}')
