import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import mirelon_core_py as m
from conftest import outcome, u8


def model_chunk_size(packet, min_size):
    """The smallest divisor from min_size to half the length with distinct chunks, else the length."""
    n = len(packet)
    for c in range(min_size, n // 2 + 1):
        chunks = [packet[i : i + c] for i in range(0, n, c)]
        if n % c == 0 and len(set(chunks)) == len(chunks):
            return c
    return n


@settings(max_examples=300, deadline=None)
# Bytes from a two-letter alphabet make repeated chunks common.
@given(st.binary(max_size=200) | st.lists(st.integers(0, 1), max_size=96).map(bytes), st.integers(1, 40))
def test_matches_the_search_model(packet, min_size):
    assert m.get_chunk_size_min(u8(packet), min_size) == model_chunk_size(packet, min_size)
    assert m.get_chunk_size(u8(packet)) == model_chunk_size(packet, 4)


@pytest.mark.parametrize(
    "packet, expected",
    [(b"XXXXXXXXYYYY", 6), (b"ab" * 4 + b"cd" * 4, 8), (np.tile(np.arange(16, dtype=np.uint8), 65536), 1 << 20)],
    ids=["first-divisors-fail", "repeats-in-halves", "1MiB-of-one-block"],
)
def test_known_chunk_sizes(packet, expected):
    assert m.get_chunk_size(u8(packet) if isinstance(packet, bytes) else packet) == expected


def test_zero_minimum():
    assert m.get_chunk_size_min(u8(), 0) == 0
    assert outcome(m.get_chunk_size_min, u8(b"a"), 0) == ("panic", "attempt to calculate the remainder with a divisor of zero")
