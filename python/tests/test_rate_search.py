"""The search for the number of ranges that hits a target size, which the
module, the sweep and the round-trip example share."""
import pytest

from vorlan_workbench.rate_search import search_count


def counting(size_of):
    calls = []

    def size_at(count):
        calls.append(count)
        return size_of(count)
    return size_at, calls


@pytest.mark.parametrize('bits_per_range', [20.0, 36.0, 55.0])
def test_a_nearly_linear_code_is_hit_in_a_few_encodes(bits_per_range):
    size_at, calls = counting(lambda n: int(100 + n * bits_per_range / 8 + (n % 7)))
    best, sizes = search_count(size_at, 65536.0, tolerance=0.02, tries=6)
    assert abs(sizes[best] * 8 - 65536.0) <= 0.02 * 65536.0
    assert len(calls) <= 3
    assert list(sizes) == calls and sizes[best] == size_at(best)


@pytest.mark.parametrize('size_of', [lambda n: 900, lambda n: 900 + 400 * (n // 5000), lambda n: 76 + n // 1000])
def test_sizes_that_stay_put_end_the_search_without_repeating_a_count(size_of):
    size_at, calls = counting(size_of)
    best, sizes = search_count(size_at, 0.5 * 65536, tries=50)
    assert len(calls) == len(set(calls)) <= 50 and best in sizes
    assert min(calls) >= 1


def test_the_nearest_code_wins_when_the_tries_run_out():
    size_at, calls = counting(lambda n: 1000 if n < 1500 else 9000)
    best, sizes = search_count(size_at, 8 * 4000, tries=4)
    assert len(calls) == 4
    assert sizes[best] == 1000  # 3000 bytes short beats 5000 over


def test_a_target_must_be_positive():
    with pytest.raises(ValueError, match='positive'):
        search_count(lambda n: 100, 0.0)
