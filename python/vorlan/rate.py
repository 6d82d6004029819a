"""The search for the number of ranges that hits a target rate: the one the
sweep and the round-trip example use (vorlan_workbench.rate_search), keeping
the code of each number tried."""
from __future__ import annotations

from typing import Callable

from vorlan_workbench.rate_search import BITS_PER_RANGE, TOLERANCE, TRIES, search_count

__all__ = ['BITS_PER_RANGE', 'TOLERANCE', 'TRIES', 'search_ranges']


def search_ranges(code_at: Callable[[int], bytes], target_bits: float, tolerance: float = TOLERANCE,
                  tries: int = TRIES, bits_per_range: float = BITS_PER_RANGE) -> tuple[bytes, dict[int, int]]:
    """The code closest to `target_bits` bits (`code_at(count)` encodes with
    that many ranges), and the size in bytes of every number of ranges tried."""
    codes: dict[int, bytes] = {}

    def size_at(count: int) -> int:
        codes[count] = code_at(count)
        return len(codes[count])

    best, sizes = search_count(size_at, target_bits, tolerance, tries, bits_per_range)
    return codes[best], sizes
