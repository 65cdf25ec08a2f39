"""map_data and inv_data: round trips, a per-position model of the restoring
(the mapping's model, over many blocks and party counts, is in the C++ tests),
and the core's checks in order."""

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import mirelon_core_py as m
from conftest import outcome, u8


def oob(length, index):
    return ("panic", f"index out of bounds: the len is {length} but the index is {index}")


def model_inv_column(o, a, tables):
    n = len(o)
    w = [tables[j][o[j]] for j in range(n)]
    c, acc = [0] * n, 0
    if n >= 3:
        prefix = sum(w[1 : n - 1]) % 256
        c[n - 1] = acc = (w[n - 1] - w[0] + a[prefix]) % 256
        for k in range(n - 2, 1, -1):
            prefix = (prefix - w[k]) % 256
            c[k] = (w[k] + acc - w[0] + a[prefix]) % 256
            acc = (acc + c[k]) % 256
    c[1] = (w[1] + acc - w[0]) % 256
    c[0] = (w[0] + a[(acc + c[1]) % 256]) % 256
    return c


def map_all(a, keys, seqs):
    return [outcome(m.map_data, u8(a), u8(k), j, [u8(s) for s in seqs]) for j, k in enumerate(keys)]


@st.composite
def parties(draw, max_n=16, max_len=200):
    n, length = draw(st.integers(2, max_n)), draw(st.integers(0, max_len))
    return [draw(st.binary(min_size=length, max_size=length)) for _ in range(n)]


keys = st.binary(min_size=256, max_size=256)


def test_the_lowest_failing_position_is_reported():
    seqs = [bytearray(80000), bytearray(80000)]
    seqs[1][70000], seqs[1][5000] = 200, 100  # sums past a 10-entry public key, in two blocks
    for _ in range(10):
        assert outcome(m.map_data, u8(bytes(10)), u8(bytes(256)), 1, [u8(s) for s in seqs]) == oob(10, 100)


@settings(max_examples=40, deadline=None)
@given(st.integers(2, 16), st.integers(0, 3000), keys, st.data())
def test_round_trip_restores_every_party(n, length, a, data):
    rng = np.random.default_rng(data.draw(st.integers(0, 2**32 - 1)))
    seqs = [rng.bytes(length) for _ in range(n)]
    privs = [data.draw(st.permutations(range(256)).map(bytes)) for _ in range(n)]
    assert m.inv_data(u8(a), [u8(k) for k in privs], [u8(s) for s in map_all(a, privs, seqs)]) == seqs


def model_inv_data(a, privs, mapped):
    tables = [[0] * 256 for _ in privs]
    for table, key in zip(tables, privs):
        for t, value in enumerate(key):  # later positions win
            table[value] = t % 256
    columns = [model_inv_column(column, a, tables) for column in zip(*mapped)]
    return [bytes(column[j] for column in columns) for j in range(len(mapped))]


@settings(max_examples=40, deadline=None)
@given(parties(max_n=8), keys, st.data())
def test_inv_data_matches_the_per_position_model_for_any_private_keys(mapped, a, data):
    privs = [data.draw(st.binary(max_size=400)) for _ in mapped]
    out = m.inv_data(u8(a), [u8(k) for k in privs], [u8(s) for s in mapped])
    assert out == model_inv_data(a, privs, mapped) and all(type(s) is bytes for s in out)


# Every party count with a kernel of its own and beyond, over many blocks.
@pytest.mark.parametrize("n", range(2, 19))
def test_inv_data_blocks_match_the_model(n):
    rng = np.random.default_rng(n)
    a, length = rng.bytes(256), 9001 if n <= 3 else 2101
    privs = [rng.bytes(rng.integers(401)) for _ in range(n)]
    mapped = [rng.bytes(length) for _ in range(n)]
    assert m.inv_data(u8(a), [u8(k) for k in privs], [u8(s) for s in mapped]) == model_inv_data(a, privs, mapped)


# --- the core's checks, in order, where two could apply (argument conversion:
# test_module_frame.py; each check on its own: the reference pages' examples) ---

KEY = bytes(range(256))
STRIDED = np.arange(8, dtype=np.uint8)[::2]
NOT_CONTIGUOUS = ("panic", "called `Result::unwrap()` on an `Err` value: NotContiguousError")


def arrays(*lengths):
    return [u8(bytes(n)) for n in lengths]


def eq_failure(message, left, right):
    return ("panic", f"assertion `left == right` failed: {message}\n  left: {left}\n right: {right}")


COUNTS = "There should be the same number of data sequences as private keys"
PUB_LEN = "All private keys should be the same length as the public key"
LENGTHS = ("panic", "all inner vectors must have equal length; data_sequences[0].len() = {}, "
           "but data_sequences[2].len() = {}")


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda: m.map_data(u8(KEY), u8(KEY), 9, arrays(3)), ("panic", "At least two parties must be present")),
        (lambda: m.map_data(u8(KEY), u8(KEY), 3, arrays(3, 2, 1)), ("panic", "assertion failed: identity < num_funcs")),
        (lambda: m.map_data(u8(KEY), u8(KEY), 0, arrays(4, 4, 3, 2)), (LENGTHS[0], LENGTHS[1].format(4, 3))),
        (lambda: m.map_data(u8(KEY), u8(KEY), 0, [STRIDED]), NOT_CONTIGUOUS),
        (lambda: m.map_data(u8(), u8(), 1, arrays(0, 0, 0)), b""),  # no positions read no table
        (lambda: m.inv_data(u8(KEY), arrays(256, 256, 256), arrays(1, 2)), eq_failure(COUNTS, 2, 3)),
        (lambda: m.inv_data(u8(bytes(3)), arrays(1, 1, 1), arrays(5, 5, 6)), (LENGTHS[0], LENGTHS[1].format(5, 6))),
        (lambda: m.inv_data(u8(bytes(257)), arrays(256), arrays(1)), eq_failure(PUB_LEN, 257, 256)),
        (lambda: m.inv_data(u8(KEY), [STRIDED, u8(KEY)], arrays(1, 2, 3)), NOT_CONTIGUOUS),
        (lambda: m.inv_data(u8(bytes(7)), arrays(3, 3), arrays(0, 0)), [b"", b""]),  # no key checked
    ],
)
def test_core_failures_in_order(call, expected):
    assert outcome(call) == expected
