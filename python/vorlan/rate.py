"""The search for the number of ranges that hits a target rate, as the
round-trip demo makes it (examples/fractal_roundtrip.py)."""
from __future__ import annotations

from typing import Callable

# A first guess: bits a range costs in a packed code.
BITS_PER_RANGE = 36.0
# Close enough: within this fraction of the target.
TOLERANCE = 0.02
# Encodes at most.
TRIES = 4


def search_ranges(code_at: Callable[[int], bytes], target_bits: float, tolerance: float = TOLERANCE,
                  tries: int = TRIES, bits_per_range: float = BITS_PER_RANGE) -> tuple[bytes, dict[int, int]]:
    """The code closest to `target_bits` bits, and the size in bytes of every
    number of ranges tried.

    The code grows almost linearly with the number of ranges: a first guess
    at `bits_per_range`, then secant steps through the two points closest to
    the target, until one lies within `tolerance` of it or `tries` encodes
    are spent."""
    codes: dict[int, bytes] = {}

    def attempt(ranges: float) -> int:
        count = max(1, int(round(ranges)))
        if count not in codes:
            codes[count] = code_at(count)
        return count

    def miss(count: int) -> float:
        return abs(len(codes[count]) * 8 - target_bits)

    count = attempt(target_bits / bits_per_range)
    while len(codes) < tries and miss(count) > tolerance * target_bits:
        nearest = sorted(codes, key=miss)[:2]
        n0 = nearest[0]
        b0 = len(codes[n0]) * 8
        if len(nearest) == 2 and len(codes[nearest[1]]) != len(codes[n0]):
            n1 = nearest[1]
            b1 = len(codes[n1]) * 8
            guess = n0 + (target_bits - b0) * (n1 - n0) / (b1 - b0)
        else:
            guess = n0 * target_bits / b0
        before = len(codes)
        count = attempt(guess)
        if len(codes) == before:
            break  # the step lands on a count already tried
    best = min(codes, key=miss)
    return codes[best], {n: len(c) for n, c in codes.items()}
