import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import mirelon_core_py as m
from conftest import u8


def model_chunk_size(packet: bytes, min_size: int) -> int:
    n = len(packet)
    if n == 0:
        return 0
    for c in range(min_size, n // 2 + 1):
        if n % c == 0:
            chunks = [packet[i:i + c] for i in range(0, n, c)]
            if len(set(chunks)) == len(chunks):
                return c
    return n


@pytest.mark.parametrize(
    "packet, min_size, expected",
    [
        (b"", 0, 0),
        (b"", 4, 0),
        (b"abc", 4, 3),
        (b"abcdefg", 4, 7),
        (b"abcdabce", 4, 4),
        (b"abcdabcd", 4, 8),
        (b"abcdefghijklm", 4, 13),
        (b"XXXXXXXXYYYY", 4, 6),
        (b"\x00" * 64, 4, 64),
        (bytes(range(16)), 1, 1),
        (b"abcdefgh", 5, 8),
        (b"abcdefghi", 9, 9),
        (b"ab" * 4 + b"cd" * 4, 4, 8),
    ],
)
def test_known_chunk_sizes(packet, min_size, expected):
    assert m.get_chunk_size_min(u8(packet), min_size) == expected
    if min_size == 4:
        assert m.get_chunk_size(u8(packet)) == expected


@settings(max_examples=300, deadline=None)
@given(st.binary(max_size=200), st.integers(1, 40))
def test_matches_the_search_model(packet, min_size):
    assert m.get_chunk_size_min(u8(packet), min_size) == model_chunk_size(packet, min_size)
    assert m.get_chunk_size(u8(packet)) == model_chunk_size(packet, 4)


def test_zero_minimum(panics):
    assert m.get_chunk_size_min(u8(), 0) == 0
    with panics("attempt to calculate the remainder with a divisor of zero"):
        m.get_chunk_size_min(u8(b"a"), 0)


def test_large_packet_of_repeated_blocks_is_not_slow():
    # 1 MiB of one 16-byte block repeated, then distinct: every small candidate
    # fails at its first repeat, so the search stays fast.
    packet = np.tile(np.arange(16, dtype=np.uint8), 65536)
    assert m.get_chunk_size(packet) == packet.size
