"""involute_packet, cond_involute_packet and cycle_packet: a pure-Python model
of the crumb/order/perm computation compared byte for byte with the module,
the involution and cycling round trips, error texts and check order, and
independence from the number of workers."""

import hashlib
import os
import re
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import mirelon_core_py

sys.path.insert(0, os.path.dirname(__file__))
from test_range_condition import (  # noqa: E402
    IN_RANGE_MASK,
    OUTSIDE,
    UNWRAP_NONE,
    f32_bits,
    model_cond_hash_branch,
    model_prep_condition,
)

DUPLICATE = "Duplicate crumbs detected after operations, cannot create a unique pattern"


def mismatch(n, c):
    return f"Packet length ({n}) is not a multiple of chunk size ({c})."


# --- Model -------------------------------------------------------------------


class ModelError(Exception):
    pass


def model_cond_involute(packet, salt, c, low, high, test_value):
    n = len(packet)
    if c == 0:
        return packet
    if n % c:
        raise ModelError(mismatch(n, c))
    if n == 0:
        return b""
    branch = model_cond_hash_branch(low, high, test_value, salt)
    seed = hashlib.sha256(bytes(sorted(packet + branch.to_bytes(8, "big")))).digest()
    chunks = [packet[i : i + c] for i in range(0, n, c)]
    crumbs = [
        bytes(a ^ b for a, b in zip(hashlib.sha256(ch + salt + seed).digest(), seed))
        for ch in chunks
    ]
    if len(set(crumbs)) != len(crumbs):
        raise ModelError(DUPLICATE)
    order = sorted(range(len(chunks)), key=lambda i: crumbs[i])
    return b"".join(chunks[order[order[j]]] for j in range(len(chunks)))


def model_involute(packet, salt, c):
    low, high = model_prep_condition(-1.0, 1.0, salt)
    return model_cond_involute(packet, salt, c, low, high, 0.0)


# --- Helpers -------------------------------------------------------------------


def u8(data=b""):
    return np.frombuffer(bytes(data), dtype=np.uint8)


def involute(packet, salt, c):
    return mirelon_core_py.involute_packet(u8(packet), u8(salt), c)


def chunks_of(data, c):
    return sorted(data[i : i + c] for i in range(0, len(data), c))


@st.composite
def packets_with_distinct_chunks(draw, max_chunks=40):
    c = draw(st.integers(1, 24))
    k = draw(st.integers(0, min(max_chunks, 256**c)))
    chunks = draw(st.lists(st.binary(min_size=c, max_size=c), min_size=k, max_size=k, unique=True))
    return b"".join(chunks), c


def expect_value_error(text, fn, *args):
    with pytest.raises(ValueError) as info:
        fn(*args)
    assert str(info.value) == text


def expect_panic(text, fn, *args):
    with pytest.raises(BaseException) as info:
        fn(*args)
    assert type(info.value).__name__ == "PanicException", repr(info.value)
    if text is not None:
        assert info.value.args == (text,)


# --- Agreement with the model --------------------------------------------------


@settings(max_examples=80, deadline=None)
@given(packets_with_distinct_chunks(), st.binary(max_size=100))
def test_involute_packet_matches_the_model(packet_and_c, salt):
    packet, c = packet_and_c
    assert involute(packet, salt, c) == model_involute(packet, salt, c)


@settings(max_examples=40, deadline=None)
@given(
    packets_with_distinct_chunks(),
    st.binary(max_size=40),
    st.integers(0, 2**64 - 1),
    st.integers(0, 2**64 - 1),
    st.floats(width=32).filter(lambda v: f32_bits(v) != 0x7FFFFFFF),
)
def test_cond_involute_packet_matches_the_model(packet_and_c, salt, low, high, test_value):
    packet, c = packet_and_c
    got = mirelon_core_py.cond_involute_packet(u8(packet), u8(salt), c, low, high, test_value)
    assert got == model_cond_involute(packet, salt, c, low, high, test_value)


def test_a_larger_packet_matches_the_model():
    rng = np.random.default_rng(7)
    packet = rng.integers(0, 256, 4096 * 8, dtype=np.uint8).tobytes()
    for c in (8, 16, 4096):
        assert involute(packet, b"0123456789abcdef", c) == model_involute(
            packet, b"0123456789abcdef", c
        )


# --- Involution properties ------------------------------------------------------


@settings(max_examples=80, deadline=None)
@given(packets_with_distinct_chunks(), st.binary(max_size=100))
def test_involution_applied_twice_restores_the_packet(packet_and_c, salt):
    packet, c = packet_and_c
    once = involute(packet, salt, c)
    assert chunks_of(once, c) == chunks_of(packet, c)
    assert involute(once, salt, c) == packet


@settings(max_examples=30, deadline=None)
@given(
    packets_with_distinct_chunks(),
    st.binary(max_size=20),
    st.floats(-1.0, 1.0, width=32),
    st.floats(-1.0, 1.0, width=32),
)
def test_conditional_involution_restores_with_any_two_inside_values(packet_and_c, salt, t1, t2):
    packet, c = packet_and_c
    low, high = mirelon_core_py.prep_condition(-1.0, 1.0, u8(salt))
    once = mirelon_core_py.cond_involute_packet(u8(packet), u8(salt), c, low, high, t1)
    assert mirelon_core_py.cond_involute_packet(u8(once), u8(salt), c, low, high, t2) == packet


def test_outside_values_share_one_rearrangement():
    packet = bytes(range(128))
    salt = u8(b"cond")
    low, high = mirelon_core_py.prep_condition(-1.0, 1.0, salt)
    outs = [
        mirelon_core_py.cond_involute_packet(u8(packet), salt, 4, low, high, t)
        for t in (2.0, -7.0, float("inf"))
    ]
    assert outs[0] == outs[1] == outs[2]
    assert mirelon_core_py.cond_involute_packet(u8(outs[0]), salt, 4, low, high, 5.0) == packet
    inside = mirelon_core_py.cond_involute_packet(u8(packet), salt, 4, low, high, 0.0)
    assert inside == involute(packet, b"cond", 4)
    assert inside != outs[0]


def test_involute_packet_uses_the_fixed_range_and_zero():
    # The plain involution is the conditional one with the bounds of (-1, 1)
    # and the test value 0, so its branch value carries the in-range mask.
    salt = b"fixed"
    low, high = model_prep_condition(-1.0, 1.0, salt)
    outside = model_cond_hash_branch(low, high, 2.0, salt)
    assert model_cond_hash_branch(low, high, 0.0, salt) == outside ^ IN_RANGE_MASK


@pytest.mark.parametrize(
    "packet, c",
    [
        (b"", 0),
        (b"abc", 0),
        (b"aaaa", 0),  # equal chunks are fine without chunking
        (b"", 4),
        (b"abcdefgh", 8),  # one chunk
        (b"abcdefgh", 4),  # two chunks
        (b"abcdefghij", 5),
        (b"xy", 1),
    ],
)
def test_trivial_cases_return_the_packet(packet, c):
    assert involute(packet, b"salt", c) == packet


def test_chunk_size_zero_skips_every_check():
    assert mirelon_core_py.cond_involute_packet(u8(b"abc"), u8(), 0, 0, 0, OUTSIDE) == b"abc"


def test_the_same_array_may_be_packet_and_salt():
    arr = u8(bytes(range(32)))
    assert mirelon_core_py.involute_packet(arr, arr, 4) == model_involute(
        bytes(range(32)), bytes(range(32)), 4
    )


# --- Errors and check order ---------------------------------------------------------


def test_error_texts():
    expect_value_error("Involute error: " + mismatch(10, 4), involute, b"0123456789", b"", 4)
    expect_value_error("Involute error: " + DUPLICATE, involute, b"abcdabcdefgh", b"", 4)
    expect_value_error(
        "Involute error: " + mismatch(3, 2**64 - 1), involute, b"abc", b"", 2**64 - 1
    )
    expect_value_error(
        "Involute error: " + mismatch(10, 4),
        mirelon_core_py.cond_involute_packet,
        u8(b"0123456789"),
        u8(),
        4,
        0,
        0,
        OUTSIDE,  # the length check comes before the branch value
    )


def test_the_nan_outside_the_domain_fails_after_the_length_checks():
    expect_panic(UNWRAP_NONE, mirelon_core_py.cond_involute_packet, u8(b"abcd"), u8(), 2, 0, 9, OUTSIDE)
    assert mirelon_core_py.cond_involute_packet(u8(), u8(), 2, 0, 9, OUTSIDE) == b""


STRIDED = u8(bytes(16))[::2]


@pytest.mark.parametrize(
    "call, exc, text",
    [
        (
            lambda: mirelon_core_py.involute_packet(u8(b"abcd"), b"salt", 4),
            TypeError,
            "argument 'salt': 'bytes' object cannot be converted to 'PyArray<T, D>'",
        ),
        (
            lambda: mirelon_core_py.involute_packet([1, 2], u8(), 4),
            TypeError,
            "argument 'packet': 'list' object cannot be converted to 'PyArray<T, D>'",
        ),
        (
            lambda: mirelon_core_py.involute_packet(np.zeros((2, 2), np.uint8), u8(), 4),
            TypeError,
            "argument 'packet': 'ndarray' object cannot be converted to 'PyArray<T, D>'",
        ),
        (
            lambda: mirelon_core_py.involute_packet(u8(b"abcd"), u8(), 4.0),
            TypeError,
            "argument 'chunk_size': 'float' object cannot be interpreted as an integer",
        ),
        (lambda: mirelon_core_py.involute_packet(u8(b"abcd"), u8(), -1), OverflowError, None),
        (lambda: mirelon_core_py.involute_packet(u8(b"abcd"), u8(), 2**64), OverflowError, None),
        # Conversion of all arguments, then contiguity in parameter order, then
        # the core's own checks.
        (
            lambda: mirelon_core_py.involute_packet(STRIDED, u8(), 4.0),
            TypeError,
            "argument 'chunk_size': 'float' object cannot be interpreted as an integer",
        ),
        (
            lambda: mirelon_core_py.involute_packet(u8(b"abc"), STRIDED, 2),
            TypeError,
            "The given array is not contiguous",
        ),
        (
            lambda: mirelon_core_py.cond_involute_packet(u8(), u8(), 0, 1.5, 0, 0.0),
            TypeError,
            "argument 'low_bound': 'float' object cannot be interpreted as an integer",
        ),
        (
            lambda: mirelon_core_py.cond_involute_packet(u8(), u8(), 0, -1, 0, 0.0),
            OverflowError,
            None,
        ),
        (
            lambda: mirelon_core_py.cond_involute_packet(u8(), u8(), 0, 0, 0, "0"),
            TypeError,
            "argument 'test_value': must be real number, not str",
        ),
        (
            lambda: mirelon_core_py.cond_involute_packet(u8(b"abc"), STRIDED, 2, 0, 0, 0.0),
            TypeError,
            "The given array is not contiguous",
        ),
        (
            lambda: mirelon_core_py.cycle_packet(),
            TypeError,
            "cycle_packet() missing 6 required positional arguments: 'packet', 'old_salt', "
            "'new_salt', 'old_key', 'new_key', and 'chunk_size'",
        ),
        (
            lambda: mirelon_core_py.cycle_packet(u8(), u8(), u8(), u8(), b"", 0),
            TypeError,
            "argument 'new_key': 'bytes' object cannot be converted to 'PyArray<T, D>'",
        ),
        (
            lambda: mirelon_core_py.cycle_packet(u8(b"abc"), u8(), u8(), STRIDED, u8(b"x"), 2),
            TypeError,
            "The given array is not contiguous",
        ),
    ],
)
def test_argument_errors(call, exc, text):
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc
    if text is not None:
        assert str(info.value) == text
    else:
        assert not str(info.value).startswith("argument")


def test_integer_test_values_are_accepted():
    salt = u8(b"i")
    low, high = mirelon_core_py.prep_condition(-3.0, 3.0, salt)
    packet = u8(bytes(range(64)))
    assert mirelon_core_py.cond_involute_packet(packet, salt, 4, low, high, -1) == (
        mirelon_core_py.cond_involute_packet(packet, salt, 4, low, high, -1.0)
    )


# --- Key cycling ------------------------------------------------------------------


def perm_key(seed):
    return np.random.default_rng(seed).permutation(256).astype(np.uint8).tobytes()


def cycle(packet, s1, s2, k1, k2, c):
    return mirelon_core_py.cycle_packet(u8(packet), u8(s1), u8(s2), u8(k1), u8(k2), c)


def key_error(old, new):
    def listing(key):
        return "[" + ", ".join(str(b) for b in sorted(key)) + "]"

    return (
        "assertion `left == right` failed: Keys must be permutations from the same set\n"
        f"  left: {listing(old)}\n right: {listing(new)}"
    )


@settings(max_examples=40, deadline=None)
@given(packets_with_distinct_chunks(), st.binary(max_size=30), st.binary(max_size=30), st.integers(0, 99))
def test_cycling_back_restores_the_packet(packet_and_c, s1, s2, seed):
    packet, c = packet_and_c
    k1, k2 = perm_key(seed), perm_key(seed + 1000)
    moved = cycle(packet, s1, s2, k1, k2, c)
    assert cycle(moved, s2, s1, k2, k1, c) == packet
    # Undo, substitute, redo: the same steps spelled out.
    table = bytes(k2[k1.index(b)] for b in range(256))
    expected = model_involute(model_involute(packet, s1, c).translate(table), s2, c)
    assert moved == expected


def test_equal_keys_chain_two_involutions():
    packet = bytes(range(200))
    k = perm_key(3)
    assert cycle(packet, b"a", b"b", k, k, 8) == involute(involute(packet, b"a", 8), b"b", 8)
    assert cycle(packet, b"a", b"a", k, k, 8) == packet


def test_chunk_size_zero_only_substitutes():
    k1, k2 = perm_key(1), perm_key(2)
    packet = bytes(range(256)) * 2
    assert cycle(packet, b"x", b"y", k1, k2, 0) == packet.translate(
        bytes(k2[k1.index(b)] for b in range(256))
    )


def test_repeated_and_missing_key_bytes():
    # The last position of a repeated byte wins; bytes missing from old_key become 0.
    assert cycle(b"\x01\x02\x09", b"", b"", b"\x01\x01\x02", b"\x02\x01\x01", 0) == b"\x01\x01\x00"
    assert cycle(b"abc", b"", b"", b"", b"", 0) == b"\x00\x00\x00"


def test_empty_keys_make_chunks_equal():
    expect_value_error("Cycle error: " + DUPLICATE, cycle, b"abcdefgh", b"", b"", b"", b"", 4)


@pytest.mark.parametrize(
    "old, new",
    [
        (b"\x01\x02\x03", b"\x03\x02"),
        (b"\x03\x01\x02", b"\x02\x01\x01"),
        (b"", b"\x00"),
    ],
)
def test_keys_that_are_not_rearrangements_panic(old, new):
    expect_panic(key_error(old, new), cycle, b"abcd", b"", b"", old, new, 4)


def test_the_key_check_comes_before_the_chunk_check():
    # 10 bytes with chunk size 4 would be a ChunkMismatch.
    expect_panic(key_error(b"\x01", b"\x02"), cycle, b"0123456789", b"", b"", b"\x01", b"\x02", 4)
    k = perm_key(0)
    expect_value_error("Cycle error: " + mismatch(10, 4), cycle, b"0123456789", b"", b"", k, k, 4)


def test_full_key_listing():
    k = perm_key(5)
    bad = k[:-1] + bytes([k[0]])
    expect_panic(key_error(k, bad), cycle, b"", b"", b"", k, bad, 0)


# --- Worker count ---------------------------------------------------------------

WORKER_SCRIPT = """
import hashlib, numpy as np, mirelon_core_py as m
rng = np.random.default_rng(11)
packet = rng.integers(0, 256, 1 << 20, dtype=np.uint8)
salt = np.frombuffer(b"0123456789abcdef", dtype=np.uint8)
k1 = rng.permutation(256).astype(np.uint8)
k2 = rng.permutation(256).astype(np.uint8)
lo, hi = m.prep_condition(-2.0, 2.0, salt)
outs = [m.involute_packet(packet, salt, c) for c in (16, 64, 4096)]
outs.append(m.cond_involute_packet(packet, salt, 16, lo, hi, 3.0))
outs.append(m.cycle_packet(packet, salt, salt[:5], k1, k2, 16))
try:
    m.involute_packet(np.tile(packet[:16], 4096), salt, 16)
except ValueError as e:
    outs.append(str(e).encode())
print(hashlib.sha256(b"".join(outs)).hexdigest())
"""


@pytest.mark.slow
def test_results_do_not_depend_on_the_worker_count(run_python):
    digests = []
    for threads in ("1", "2"):
        result = run_python(WORKER_SCRIPT, env={"RAYON_NUM_THREADS": threads})
        assert result.returncode == 0, result.stderr
        digests.append(result.stdout.strip())
    assert digests[0] == digests[1]
