import gc
import sys
import tracemalloc

import numpy as np
import pytest

import mirelon_core_py as m
from conftest import u8


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize(
    "array, expected",
    [
        (np.arange(8, dtype=np.uint8), 4),
        (np.frombuffer(b"abcdabce", dtype=np.uint8), 4),  # read-only
        (np.zeros(1, dtype=np.uint8), 1),
        (np.zeros(0, dtype=np.uint8), 0),
        (np.zeros(8, dtype=np.dtype("B")), 8),
        (np.asfortranarray(np.arange(8, dtype=np.uint8)), 4),
        (np.ma.masked_array(np.arange(8, dtype=np.uint8)), 4),  # a subtype
        (np.arange(16, dtype=np.uint8)[8:], 4),  # an offset view
    ],
)
def test_accepted_byte_arrays(array, expected):
    assert m.get_chunk_size(array) == expected


@pytest.mark.parametrize(
    "value, type_name",
    [
        (b"abc", "bytes"),
        (bytearray(b"abc"), "bytearray"),
        ([1, 2], "list"),
        (None, "NoneType"),
        (np.zeros((2, 2), dtype=np.uint8), "ndarray"),
        (np.zeros(4, dtype=np.int64), "ndarray"),
        (np.zeros(4, dtype=np.int8), "ndarray"),
        (np.uint8(3), "uint8"),
        (np.zeros((), dtype=np.uint8), "ndarray"),
    ],
)
def test_rejected_byte_arrays(value, type_name):
    with pytest.raises(TypeError) as info:
        m.get_chunk_size(value)
    assert str(info.value) == (
        f"argument 'packet': '{type_name}' object cannot be converted to 'PyArray<T, D>'"
    )


def test_qualified_type_name_is_used():
    class Outer:
        class Inner:
            pass

    with pytest.raises(TypeError, match="'test_qualified_type_name_is_used.<locals>.Outer.Inner'"):
        m.get_chunk_size(Outer.Inner())


@pytest.mark.parametrize(
    "view",
    [
        np.arange(8, dtype=np.uint8)[::2],
        np.arange(8, dtype=np.uint8)[::-1],
        np.zeros((4, 4), dtype=np.uint8)[:, 1],
    ],
)
def test_non_contiguous_arrays(view):
    with pytest.raises(TypeError) as info:
        m.get_chunk_size(view)
    assert str(info.value) == "The given array is not contiguous"


def test_arrays_are_not_modified():
    a = np.arange(64, dtype=np.uint8)
    a.flags.writeable = False
    m.get_chunk_size_min(a, 2)
    assert (a == np.arange(64, dtype=np.uint8)).all()


@pytest.mark.parametrize(
    "value, expected",
    [(True, 1), (7, 7), (np.uint64(7), 7), (np.int32(9), 9), (Index(6), 6), (2**64 - 1, 2**64 - 1)],
)
def test_unsigned_integer_accepts(value, expected):
    # With 256 distinct bytes every divisor of 256 is usable, so the result is
    # the smallest divisor of 256 at least the minimum (256 beyond 128).
    packet = np.arange(256, dtype=np.uint8)
    divisor = next((c for c in range(expected, 129) if 256 % c == 0), 256)
    assert m.get_chunk_size_min(packet, value) == divisor


@pytest.mark.parametrize("value", [-1, 2**64, -(2**70), Index(-1), Index(2**64)])
def test_unsigned_integer_overflow_is_not_prefixed(value):
    with pytest.raises(OverflowError) as info:
        m.get_chunk_size_min(u8(b"abcd"), value)
    assert not str(info.value).startswith("argument")


@pytest.mark.parametrize(
    "value, message",
    [
        (4.0, "'float' object cannot be interpreted as an integer"),
        ("4", "'str' object cannot be interpreted as an integer"),
        (None, "'NoneType' object cannot be interpreted as an integer"),
    ],
)
def test_unsigned_integer_without_index(value, message):
    with pytest.raises(TypeError) as info:
        m.get_chunk_size_min(u8(b"abcd"), value)
    assert str(info.value) == "argument 'min_size': " + message


ERROR_CALLS = [
    lambda: m.get_chunk_size(b"abc"),
    lambda: m.get_chunk_size(np.arange(8, dtype=np.uint8)[::2]),
    lambda: m.get_chunk_size_min(u8(b"abcd"), -1),
    lambda: m.get_chunk_size_min(u8(b"abcd"), 4.0),
    lambda: m.get_chunk_size_min(u8(b"abcd"), 0),
    lambda: m.get_chunk_size_min(u8(b"abcd"), min_size=1, packet=u8()),
    lambda: m.get_chunk_size(),
    lambda: m.get_chunk_size(u8(), nope=1),
]


@pytest.mark.parametrize("call", ERROR_CALLS)
def test_error_paths_leave_nothing_behind(call):
    def run(times):
        for _ in range(times):
            try:
                call()
            except BaseException:  # noqa: BLE001
                pass

    run(200)
    gc.collect()
    tracemalloc.start()
    before = tracemalloc.get_traced_memory()[0]
    refs_before = sys.gettotalrefcount() if hasattr(sys, "gettotalrefcount") else None
    run(5000)
    gc.collect()
    after = tracemalloc.get_traced_memory()[0]
    tracemalloc.stop()
    assert after - before < 64 * 1024
    if refs_before is not None:
        assert sys.gettotalrefcount() - refs_before < 100


def test_arguments_keep_their_reference_counts():
    packet = np.arange(32, dtype=np.uint8)
    size = 8
    before = sys.getrefcount(packet), sys.getrefcount(size)
    for _ in range(1000):
        m.get_chunk_size_min(packet, size)
        try:
            m.get_chunk_size_min(packet, packet)
        except TypeError:
            pass
    assert (sys.getrefcount(packet), sys.getrefcount(size)) == before


class ClaimsHugeLength:
    """A sequence whose __len__ is a wild claim; iteration yields `items`."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return 2**62

    def __getitem__(self, i):
        if i < len(self.items):
            return self.items[i]
        raise IndexError(i)


def test_a_claimed_length_does_not_decide_memory():
    key = np.arange(256, dtype=np.uint8)
    sequences = ClaimsHugeLength([u8(b"abc"), u8(b"xyz")])
    assert m.map_data(key, key, 0, sequences) == m.map_data(key, key, 0, [u8(b"abc"), u8(b"xyz")])
    assert m.package_blob(ClaimsHugeLength([65, 66])) == m.package_blob(b"AB")
