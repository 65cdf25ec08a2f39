"""map_data and inv_data against a slow per-position model of the mapping."""

import contextlib
import re

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import mirelon_core_py as m


def u8(data=b""):
    return np.frombuffer(bytes(data), dtype=np.uint8)


@contextlib.contextmanager
def panics(text):
    with pytest.raises(BaseException) as info:
        yield
    assert type(info.value).__name__ == "PanicException", repr(info.value)
    assert info.value.args == (text,)


def oob(length, index):
    return f"index out of bounds: the len is {length} but the index is {index}"


class LookupFailed(Exception):
    pass


def look(table, index):
    if index >= len(table):
        raise LookupFailed(oob(len(table), index))
    return table[index]


def model_column(a, b, p, c):
    """One column mapped for party p, exactly as defined (full suffix-sum table)."""
    n = len(c)
    s = [0] * (n + 1)
    for k in range(n - 1, -1, -1):
        s[k] = (s[k + 1] + c[k]) % 256
    x = (c[0] - look(a, s[1])) % 256
    if p == 0:
        return look(b, x)
    y = (c[1] + x - s[2]) % 256
    if p == 1:
        return look(b, y)
    v = y
    for k in range(2, p + 1):
        d = (x + c[k] - s[k + 1] - look(a, v)) % 256
        v = (v + d) % 256
    return look(b, d)


def model_map(a, b, p, seqs):
    """The mapped bytes, or the failure text of the first failing position."""
    out = bytearray()
    try:
        for column in zip(*seqs):
            out.append(model_column(a, b, p, column))
    except LookupFailed as e:
        return str(e)
    return bytes(out)


def model_invert(key):
    table = [0] * 256
    for t, value in enumerate(key):
        table[value] = t % 256
    return table


def model_inv_column(o, a, tables):
    n = len(o)
    w = [tables[j][o[j]] for j in range(n)]
    c = [0] * n
    acc = 0
    if n >= 3:
        prefix = sum(w[1 : n - 1]) % 256
        c[n - 1] = (w[n - 1] - w[0] + a[prefix]) % 256
        acc = c[n - 1]
        for k in range(n - 2, 1, -1):
            prefix = (prefix - w[k]) % 256
            c[k] = (w[k] + acc - w[0] + a[prefix]) % 256
            acc = (acc + c[k]) % 256
    c[1] = (w[1] + acc - w[0]) % 256
    acc = (acc + c[1]) % 256
    c[0] = (w[0] + a[acc]) % 256
    return c


def call_map(a, b, p, seqs):
    """map_data, returning its result or its panic text."""
    try:
        return m.map_data(u8(a), u8(b), p, [u8(s) for s in seqs])
    except BaseException as e:  # noqa: B036 - the panic type derives from BaseException
        assert type(e).__name__ == "PanicException", repr(e)
        return e.args[0]


keys = st.binary(min_size=256, max_size=256)
permutations = st.permutations(range(256)).map(bytes)


@st.composite
def parties(draw, max_n=16, max_len=300, top=255):
    n = draw(st.integers(2, max_n))
    length = draw(st.integers(0, max_len))
    byte = st.integers(0, top)
    seqs = [bytes(draw(st.lists(byte, min_size=length, max_size=length))) for _ in range(n)]
    return seqs


# --- the forward mapping ------------------------------------------------------


@settings(max_examples=150, deadline=None)
@given(parties(), keys, keys, st.data())
def test_map_data_matches_the_per_position_model(seqs, a, b, data):
    p = data.draw(st.integers(0, len(seqs) - 1))
    assert m.map_data(u8(a), u8(b), p, [u8(s) for s in seqs]) == model_map(a, b, p, seqs)


def test_map_data_every_party_of_a_wide_group_over_several_blocks():
    rng = np.random.default_rng(5)
    a, b = rng.bytes(256), rng.bytes(256)
    seqs = [rng.bytes(9000) for _ in range(16)]
    for p in range(16):
        assert call_map(a, b, p, seqs) == model_map(a, b, p, seqs), p


@pytest.mark.parametrize("seed", range(4))
def test_worked_column_for_every_party_and_back(seed):
    rng = np.random.default_rng(seed)
    a = rng.bytes(256)
    privs = [bytes(rng.permutation(256).astype(np.uint8)) for _ in range(3)]
    x = (10 - a[50]) % 256
    y = (20 + x - 30) % 256
    d = (x + 30 - 0 - a[y]) % 256
    seqs = [u8([10]), u8([20]), u8([30])]
    mapped = [m.map_data(u8(a), u8(privs[p]), p, seqs) for p in range(3)]
    assert mapped == [bytes([privs[0][x]]), bytes([privs[1][y]]), bytes([privs[2][d]])]
    restored = m.inv_data(u8(a), [u8(k) for k in privs], [u8(s) for s in mapped])
    assert restored == [b"\x0a", b"\x14", b"\x1e"]


@settings(max_examples=50, deadline=None)
@given(st.binary(max_size=200), st.data(), keys, keys)
def test_two_party_closed_forms(c0, data, a, b):
    c1 = data.draw(st.binary(min_size=len(c0), max_size=len(c0)))
    x = [(p - a[q]) % 256 for p, q in zip(c0, c1)]
    seqs = [u8(c0), u8(c1)]
    assert m.map_data(u8(a), u8(b), 0, seqs) == bytes(b[v] for v in x)
    assert m.map_data(u8(a), u8(b), 1, seqs) == bytes(b[(q + v) % 256] for q, v in zip(c1, x))


def test_party_zero_sees_only_its_own_byte_and_the_sum_of_the_others():
    rng = np.random.default_rng(9)
    a, b = u8(rng.bytes(256)), u8(rng.bytes(256))
    first = [u8([1, 2, 3]), u8([100, 0, 255]), u8([5, 250, 1])]
    second = [u8([1, 2, 3]), u8([50, 200, 0]), u8([55, 50, 0])]
    assert m.map_data(a, b, 0, first) == m.map_data(a, b, 0, second)


# --- short keys ---------------------------------------------------------------


@settings(max_examples=200, deadline=None)
@given(
    parties(max_n=6, max_len=40, top=6),
    st.binary(max_size=60),
    st.binary(max_size=60),
    st.data(),
)
def test_short_keys_fail_exactly_where_the_model_fails(seqs, a, b, data):
    p = data.draw(st.integers(0, len(seqs) - 1))
    assert call_map(a, b, p, seqs) == model_map(a, b, p, seqs)


def test_short_keys_whose_indices_stay_in_range_succeed():
    seqs = [bytes(5000)] * 4
    for p in range(4):
        assert m.map_data(u8([0]), u8([42]), p, [u8(s) for s in seqs]) == b"\x2a" * 5000


def test_the_lowest_failing_position_is_reported():
    low, high = bytearray(80000), bytearray(80000)
    high[70000] = 200
    high[5000] = 100
    for _ in range(10):
        with panics(oob(10, 100)):
            m.map_data(u8(bytes(10)), u8(bytes(256)), 1, [u8(low), u8(high)])


def test_empty_sequences_read_no_table():
    assert m.map_data(u8(), u8(), 1, [u8(), u8(), u8()]) == b""


# --- round trips --------------------------------------------------------------


def round_trip(a, privs, seqs):
    mapped = [m.map_data(u8(a), u8(privs[j]), j, [u8(s) for s in seqs]) for j in range(len(seqs))]
    return m.inv_data(u8(a), [u8(k) for k in privs], [u8(s) for s in mapped])


@settings(max_examples=40, deadline=None)
@given(st.integers(2, 16), st.integers(0, 3000), keys, st.data())
def test_round_trip_restores_every_party(n, length, a, data):
    seed = data.draw(st.integers(0, 2**32 - 1))
    rng = np.random.default_rng(seed)
    seqs = [rng.bytes(length) for _ in range(n)]
    privs = [data.draw(permutations) for _ in range(n)]
    assert round_trip(a, privs, seqs) == seqs


def test_round_trip_of_several_megabytes():
    rng = np.random.default_rng(17)
    n, length = 5, 3 * 1024 * 1024 + 11
    a = rng.bytes(256)
    privs = [bytes(rng.permutation(256).astype(np.uint8)) for _ in range(n)]
    seqs = [rng.bytes(length) for _ in range(n)]
    mapped = [m.map_data(u8(a), u8(privs[j]), j, [u8(s) for s in seqs]) for j in range(n)]
    for i in rng.integers(0, length, 200):
        column = [s[i] for s in seqs]
        assert [mapped[j][i] for j in range(n)] == [
            model_column(a, privs[j], j, column) for j in range(n)
        ]
    assert m.inv_data(u8(a), [u8(k) for k in privs], [u8(s) for s in mapped]) == seqs


@settings(max_examples=60, deadline=None)
@given(parties(max_n=8), keys, st.data())
def test_inv_data_matches_the_per_position_model_for_any_private_keys(mapped, a, data):
    privs = [data.draw(st.binary(max_size=400)) for _ in mapped]
    tables = [model_invert(k) for k in privs]
    expected = [bytearray() for _ in mapped]
    for column in zip(*mapped):
        for j, byte in enumerate(model_inv_column(column, a, tables)):
            expected[j].append(byte)
    out = m.inv_data(u8(a), [u8(k) for k in privs], [u8(s) for s in mapped])
    assert out == [bytes(e) for e in expected]
    assert all(type(s) is bytes for s in out)


# --- failures: conversion, contiguity, then the core's checks -------------------

KEY = bytes(range(256))
strided = np.arange(8, dtype=np.uint8)[::2]


def arrays(*lengths):
    return [u8(bytes(n)) for n in lengths]


@pytest.mark.parametrize(
    "args, text",
    [
        ((0, []), "At least two parties must be present"),
        ((9, arrays(3)), "At least two parties must be present"),
        ((5, arrays(2, 2, 2)), "assertion failed: identity < num_funcs"),
        ((3, arrays(3, 2, 1)), "assertion failed: identity < num_funcs"),
        (
            (0, arrays(4, 4, 3, 2)),
            "all inner vectors must have equal length; data_sequences[0].len() = 4, "
            "but data_sequences[2].len() = 3",
        ),
        ((0, [strided, u8(b"ab")]), "called `Result::unwrap()` on an `Err` value: NotContiguousError"),
        ((0, [strided]), "called `Result::unwrap()` on an `Err` value: NotContiguousError"),
    ],
)
def test_map_data_panics(args, text):
    identity, seqs = args
    with panics(text):
        m.map_data(u8(KEY), u8(KEY), identity, seqs)


@pytest.mark.parametrize(
    "args, error, text",
    [
        ((u8(KEY), u8(KEY), 0, "ab"), TypeError, "argument 'data_sequences': Can't extract `str` to `Vec`"),
        (
            (u8(KEY), u8(KEY), 0, [u8(b"ab"), b"xy"]),
            TypeError,
            "argument 'data_sequences': 'bytes' object cannot be converted to 'PyArray<T, D>'",
        ),
        (
            (u8(KEY), u8(KEY), 0, 5),
            TypeError,
            "argument 'data_sequences': 'int' object cannot be converted to 'Sequence'",
        ),
        (
            (u8(KEY), u8(KEY), 0, [np.zeros((2, 2), np.uint8)]),
            TypeError,
            "argument 'data_sequences': 'ndarray' object cannot be converted to 'PyArray<T, D>'",
        ),
        (
            (KEY, u8(KEY), 0, "ab"),
            TypeError,
            "argument 'pub_key': 'bytes' object cannot be converted to 'PyArray<T, D>'",
        ),
        ((u8(KEY), u8(KEY), 1.0, arrays(1, 1)), TypeError, "argument 'identity': "),
        ((u8(KEY), u8(KEY), -1, "ab"), OverflowError, ""),
        # Contiguity of the keys is checked only after every argument converted.
        ((strided, u8(KEY), 0, "ab"), TypeError, "argument 'data_sequences': Can't extract"),
        ((strided, u8(KEY), 0, [strided]), TypeError, "The given array is not contiguous"),
        ((u8(KEY), strided, 0, [strided]), TypeError, "The given array is not contiguous"),
    ],
)
def test_map_data_argument_errors(args, error, text):
    with pytest.raises(error) as info:
        m.map_data(*args)
    assert type(info.value) is error
    assert str(info.value).startswith(text)


def eq_text(message, left, right):
    return f"assertion `left == right` failed: {message}\n  left: {left}\n right: {right}"


COUNTS = "There should be the same number of data sequences as private keys"
PUB_LEN = "All private keys should be the same length as the public key"


@pytest.mark.parametrize(
    "pub_len, priv_keys, seqs, text",
    [
        (256, arrays(256, 256, 256), arrays(1, 2), eq_text(COUNTS, 2, 3)),
        (256, [], [], oob(0, 0)),
        (
            3,
            arrays(1, 1, 1),
            arrays(5, 5, 6),
            "all inner vectors must have equal length; data_sequences[0].len() = 5, "
            "but data_sequences[2].len() = 6",
        ),
        (255, arrays(255, 255), arrays(1, 1), eq_text(PUB_LEN, 255, 256)),
        (257, arrays(256), arrays(1), eq_text(PUB_LEN, 257, 256)),
        (256, arrays(256), arrays(1), oob(1, 1)),
        (
            256,
            [strided, u8(KEY)],
            arrays(1, 2, 3),
            "called `Result::unwrap()` on an `Err` value: NotContiguousError",
        ),
        (
            256,
            arrays(256, 256),
            [u8(b"a"), strided],
            "called `Result::unwrap()` on an `Err` value: NotContiguousError",
        ),
    ],
)
def test_inv_data_panics(pub_len, priv_keys, seqs, text):
    with panics(text):
        m.inv_data(u8(bytes(pub_len)), priv_keys, seqs)


@pytest.mark.parametrize(
    "args, text",
    [
        ((u8(KEY), "ab", []), "argument 'priv_keys': Can't extract `str` to `Vec`"),
        ((u8(KEY), [strided], "ab"), "argument 'data_sequences': Can't extract `str` to `Vec`"),
        ((u8(KEY), [strided], [b"x"]), "argument 'data_sequences': 'bytes' object cannot"),
        ((strided, [strided], [strided]), "The given array is not contiguous"),
    ],
)
def test_inv_data_argument_errors(args, text):
    with pytest.raises(TypeError, match="^" + re.escape(text)):
        m.inv_data(*args)


@pytest.mark.parametrize("n", [1, 2, 5])
def test_inv_data_without_positions_checks_no_key(n):
    assert m.inv_data(u8(bytes(7)), arrays(*[3] * n), arrays(*[0] * n)) == [b""] * n


def test_tuples_and_keywords_are_accepted():
    rng = np.random.default_rng(3)
    a = rng.bytes(256)
    privs = tuple(u8(rng.permutation(256).astype(np.uint8)) for _ in range(3))
    seqs = tuple(u8(rng.bytes(50)) for _ in range(3))
    mapped = tuple(
        u8(m.map_data(priv_key=privs[j], identity=j, data_sequences=seqs, pub_key=u8(a)))
        for j in range(3)
    )
    assert m.inv_data(u8(a), privs, data_sequences=mapped) == [bytes(s) for s in seqs]
