"""The search for the number of ranges that brings a fractal code to a target
size. The module (`vorlan.encode(..., bpp=)`), the sweep (`FractalRoundTrip.
at_rate`) and the round-trip example (`fractal_roundtrip.py --bpp`) all search
with it; it needs nothing beyond the standard library, so the example runs
without the compiled module."""
from __future__ import annotations

from typing import Callable

# A first guess: bits a range costs in a packed code of a 512 x 512 picture.
BITS_PER_RANGE = 36.0
# Close enough: within this fraction of the target.
TOLERANCE = 0.02
# Encodes at most.
TRIES = 4


def search_count(size_at: Callable[[int], int], target_bits: float, tolerance: float = TOLERANCE,
                 tries: int = TRIES, bits_per_range: float = BITS_PER_RANGE) -> tuple[int, dict[int, int]]:
    """The number of ranges whose code lies nearest `target_bits` bits, and
    the size in bytes (`size_at(count)`) of every number tried, in the order
    tried.

    The code grows almost linearly with the number of ranges: a first guess
    at `bits_per_range`, then secant steps through the two points nearest the
    target, until one lies within `tolerance` (relative) of it or `tries`
    encodes are spent. Sizes stay put over stretches of range counts (the
    encoder may stop growing early), so a step that lands on a count already
    tried moves one past the nearest point instead, and the search ends when
    that too was tried."""
    if not target_bits > 0:
        raise ValueError(f'a positive target size is needed, not {target_bits} bits')
    sizes: dict[int, int] = {}

    def attempt(ranges: float) -> int:
        count = max(1, int(round(ranges)))
        if count not in sizes:
            sizes[count] = size_at(count)
        return count

    def miss(count: int) -> float:
        return abs(sizes[count] * 8 - target_bits)

    count = attempt(target_bits / bits_per_range)
    while len(sizes) < tries and miss(count) > tolerance * target_bits:
        nearest = sorted(sizes, key=miss)[:2]
        n0 = nearest[0]
        b0 = sizes[n0] * 8
        if len(nearest) == 2 and sizes[nearest[1]] != sizes[n0]:
            n1 = nearest[1]
            b1 = sizes[n1] * 8
            guess = n0 + (target_bits - b0) * (n1 - n0) / (b1 - b0)
        else:
            guess = n0 * target_bits / max(b0, 1)
        if max(1, int(round(guess))) in sizes:
            guess = n0 + (1 if b0 < target_bits else -1)
            if guess < 1 or guess in sizes:
                break
        count = attempt(guess)
    return min(sizes, key=miss), sizes
