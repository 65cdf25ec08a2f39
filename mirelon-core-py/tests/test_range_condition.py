"""prep_condition and cond_hash_branch: a pure-Python model of the salted
order-preserving map compared with the module, order preservation over
float32 values, the branch value's in-range mask, and the argument checks.

The model (order_key, map_value, prep_condition, cond_hash_branch) is also
used by test_involute.py.
"""

import hashlib
import hmac
import math
import re
import struct

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import mirelon_core_py

IN_RANGE_MASK = 0xDEADBEEFDEADBEEF
U64 = 2**64
UNWRAP_NONE = "called `Option::unwrap()` on a `None` value"


# --- Model -------------------------------------------------------------------


def f32_bits(value):
    """Bit pattern of `value` rounded once to float32 (ties to even, overflow to inf)."""
    with np.errstate(over="ignore"):
        return int(np.array([value], dtype=np.float64).astype(np.float32).view(np.uint32)[0])


def f32_from_bits(bits):
    """A Python float that rounds to exactly the float32 with this bit pattern."""
    return float(np.array([bits], dtype=np.uint32).view(np.float32).astype(np.float64)[0])


def order_key(bits):
    return (~bits & 0xFFFFFFFF) if bits & 0x80000000 else bits ^ 0x80000000


def _floor_u64(v):
    if not v >= 0.0:
        return 0
    if v >= 2.0**64:
        return U64 - 1
    return math.floor(v)


def map_value(salt, x):
    assert 0 <= x <= 0xFFFFFFFE
    dlo, dhi, rlo, rhi, depth = 0, 0xFFFFFFFE, 0, 0xFFFFFFFFFFFFFFFE, 0
    while dlo != dhi:
        msg = struct.pack(">IIQQI", dlo, dhi, rlo, rhi, depth)
        mac = hmac.new(salt, msg, hashlib.sha256).digest()
        u = float(int.from_bytes(mac[:8], "big")) * 2.0**-64  # int -> float: ties to even
        ds = float(dhi - dlo + 1)
        rs = float((rhi - rlo + 1) % U64)
        dp = dlo + _floor_u64(u * ds)
        rp = (rlo + _floor_u64(u * rs)) % U64
        if dp > x:
            dhi, rhi = (dp - 1) & 0xFFFFFFFF, (rp - 1) % U64
        elif dp < x:
            dlo, rlo = (dp + 1) & 0xFFFFFFFF, (rp + 1) % U64
        else:
            return rp
        depth = (depth + 1) & 0xFFFFFFFF
    return rlo


def model_prep_condition(low, high, salt):
    return (map_value(salt, order_key(f32_bits(low))), map_value(salt, order_key(f32_bits(high))))


def model_cond_hash_branch(low, high, test_value, salt):
    h = int.from_bytes(hashlib.sha256(struct.pack(">QQ", low, high) + salt).digest()[:8], "little")
    t = map_value(salt, order_key(f32_bits(test_value)))
    inside = low <= t <= high
    return h ^ (low & high) ^ (IN_RANGE_MASK if inside else 0)


# --- Helpers -----------------------------------------------------------------


def u8(data=b""):
    return np.frombuffer(bytes(data), dtype=np.uint8)


def expect_panic(text, fn, *args):
    with pytest.raises(BaseException) as info:
        fn(*args)
    assert type(info.value).__name__ == "PanicException", repr(info.value)
    assert info.value.args == (text,)


# Non-NaN float32 patterns in ascending float order, plus the allowed NaNs at
# the ends where their keys put them.
ORDERED_BITS = [
    0xFFC00000,  # NaN with the sign bit: below -inf
    0xFF800000,  # -inf
    0xFF7FFFFF,  # -max
    0xBF800000,  # -1.0
    0x80800000,  # -min normal
    0x80000001,  # -min subnormal
    0x80000000,  # -0.0
    0x00000000,  # +0.0
    0x00000001,
    0x00800000,
    0x3F800000,  # 1.0
    0x3F800001,
    0x7F7FFFFF,
    0x7F800000,  # +inf
    0x7FC00000,  # quiet NaN: above +inf
    0x7FFFFFFE,  # the largest key inside the domain
]

finite_f32 = st.floats(width=32, allow_nan=False)
salts = st.binary(max_size=100)


# --- Agreement with the model --------------------------------------------------


@settings(max_examples=60, deadline=None)
@given(low=finite_f32, high=finite_f32, salt=salts)
def test_prep_condition_matches_the_model(low, high, salt):
    assert mirelon_core_py.prep_condition(low, high, u8(salt)) == model_prep_condition(
        low, high, salt
    )


@settings(max_examples=60, deadline=None)
@given(
    low=st.integers(0, U64 - 1),
    high=st.integers(0, U64 - 1),
    test_value=finite_f32,
    salt=salts,
)
def test_cond_hash_branch_matches_the_model(low, high, test_value, salt):
    got = mirelon_core_py.cond_hash_branch(low, high, test_value, u8(salt))
    assert got == model_cond_hash_branch(low, high, test_value, salt)


@pytest.mark.parametrize("bits", ORDERED_BITS)
def test_special_values_match_the_model(bits):
    salt = b"special"
    value = f32_from_bits(bits)
    assert f32_bits(value) == bits
    lo, hi = mirelon_core_py.prep_condition(value, value, u8(salt))
    assert lo == hi == map_value(salt, order_key(bits))


def test_salt_longer_than_a_hash_block_is_hashed_first():
    salt = bytes(range(200))
    assert mirelon_core_py.prep_condition(-3.5, 7.25, u8(salt)) == model_prep_condition(
        -3.5, 7.25, salt
    )


# --- Order preservation and the branch value ------------------------------------


def test_mapped_values_follow_float_order():
    salt = u8(b"order")
    mapped = [mirelon_core_py.prep_condition(f32_from_bits(b), 0.0, salt)[0] for b in ORDERED_BITS]
    assert all(a < b for a, b in zip(mapped, mapped[1:]))


@settings(max_examples=40, deadline=None)
@given(a=finite_f32, b=finite_f32, salt=salts)
def test_prepared_bounds_compare_like_the_floats(a, b, salt):
    pa, pb = mirelon_core_py.prep_condition(a, b, u8(salt))
    # -0.0 and +0.0 are distinct keys, with -0.0 below.
    ka, kb = order_key(f32_bits(a)), order_key(f32_bits(b))
    assert (pa < pb) == (ka < kb) and (pa == pb) == (ka == kb)


def test_inside_and_outside_differ_by_the_mask():
    salt = u8(b"branch")
    lo, hi = mirelon_core_py.prep_condition(-1.0, 1.0, salt)
    inside = mirelon_core_py.cond_hash_branch(lo, hi, 0.0, salt)
    for t in (-1.0, 1.0, 0.5, -0.0):  # bounds included
        assert mirelon_core_py.cond_hash_branch(lo, hi, t, salt) == inside
    for t in (2.0, -1.0000001, float("-inf"), float("nan")):
        assert mirelon_core_py.cond_hash_branch(lo, hi, t, salt) == inside ^ IN_RANGE_MASK


def test_low_above_high_puts_every_value_outside():
    salt = u8(b"swap")
    lo, hi = mirelon_core_py.prep_condition(1.0, -1.0, salt)
    h = int.from_bytes(hashlib.sha256(struct.pack(">QQ", lo, hi) + b"swap").digest()[:8], "little")
    for t in (-1.0, 0.0, 1.0, 5.0):
        assert mirelon_core_py.cond_hash_branch(lo, hi, t, salt) == h ^ (lo & hi)


def test_empty_salt_is_valid():
    assert mirelon_core_py.prep_condition(-1.0, 1.0, u8()) == model_prep_condition(-1.0, 1.0, b"")


# --- Conversion of the float arguments ---------------------------------------------


@pytest.mark.parametrize(
    "given_value, same_as",
    [
        (-1, -1.0),
        (True, 1.0),
        (0.1, f32_from_bits(f32_bits(0.1))),
        (1e300, float("inf")),
        (-1e300, float("-inf")),
        (np.float32(2.5), 2.5),
    ],
)
def test_bounds_are_rounded_once_to_float32(given_value, same_as):
    salt = u8(b"conv")
    assert mirelon_core_py.prep_condition(given_value, given_value, salt) == (
        mirelon_core_py.prep_condition(same_as, same_as, salt)
    )


def test_ties_round_to_even():
    # 1 + 2^-24 lies halfway between 1.0 and the next float32; even is 1.0.
    salt = u8(b"tie")
    assert mirelon_core_py.prep_condition(1.0 + 2.0**-24, 0.0, salt)[0] == (
        mirelon_core_py.prep_condition(1.0, 0.0, salt)[0]
    )
    # 1 + 3 * 2^-24 lies halfway between 1 + 2^-23 and 1 + 2^-22; even is the latter.
    assert f32_bits(1.0 + 3 * 2.0**-24) == 0x3F800002
    assert mirelon_core_py.prep_condition(1.0 + 3 * 2.0**-24, 0.0, salt)[0] == (
        mirelon_core_py.prep_condition(f32_from_bits(0x3F800002), 0.0, salt)[0]
    )


# --- Failures ----------------------------------------------------------------------

# The one NaN whose key lies past the end of the domain: double 0x7FFFFFFFE0000000
# rounds to the float32 0x7FFFFFFF.
OUTSIDE = struct.unpack(">d", bytes.fromhex("7FFFFFFFE0000000"))[0]


def test_the_nan_outside_the_domain_is_an_internal_failure():
    assert f32_bits(OUTSIDE) == 0x7FFFFFFF
    salt = u8(b"s")
    expect_panic(UNWRAP_NONE, mirelon_core_py.prep_condition, OUTSIDE, 1.0, salt)
    expect_panic(UNWRAP_NONE, mirelon_core_py.prep_condition, -1.0, OUTSIDE, salt)
    expect_panic(UNWRAP_NONE, mirelon_core_py.cond_hash_branch, 0, 1, OUTSIDE, salt)


def test_a_panic_is_not_an_ordinary_exception():
    with pytest.raises(BaseException) as info:
        try:
            mirelon_core_py.prep_condition(OUTSIDE, 1.0, u8())
        except Exception:  # noqa: BLE001 - must not catch it
            pytest.fail("PanicException caught by `except Exception`")
    assert not isinstance(info.value, Exception)


@pytest.mark.parametrize(
    "call, exc, text",
    [
        (
            lambda: mirelon_core_py.prep_condition("1", 1.0, u8()),
            TypeError,
            "argument 'low_bound': must be real number, not str",
        ),
        (
            lambda: mirelon_core_py.prep_condition(1.0, None, u8()),
            TypeError,
            "argument 'high_bound': must be real number, not NoneType",
        ),
        (
            lambda: mirelon_core_py.prep_condition(1.0, 2.0, b"salt"),
            TypeError,
            "argument 'salt': 'bytes' object cannot be converted to 'PyArray<T, D>'",
        ),
        (
            lambda: mirelon_core_py.prep_condition(10**400, 2.0, u8()),
            OverflowError,
            "int too large to convert to float",
        ),
        (
            lambda: mirelon_core_py.prep_condition(1.0, 2.0, u8(bytes(8))[::2]),
            TypeError,
            "The given array is not contiguous",
        ),
        (
            lambda: mirelon_core_py.cond_hash_branch(-1, 0, 0.0, u8()),
            OverflowError,
            None,
        ),
        (
            lambda: mirelon_core_py.cond_hash_branch(0, 2**64, 0.0, u8()),
            OverflowError,
            None,
        ),
        (
            lambda: mirelon_core_py.cond_hash_branch(1.0, 0, 0.0, u8()),
            TypeError,
            "argument 'low_bound': 'float' object cannot be interpreted as an integer",
        ),
        (
            lambda: mirelon_core_py.cond_hash_branch(0, 0, "x", u8()),
            TypeError,
            "argument 'test_value': must be real number, not str",
        ),
        # Conversion of every argument comes before the contiguity check.
        (
            lambda: mirelon_core_py.cond_hash_branch(0, 0, 0.0, np.zeros(4, np.int64)),
            TypeError,
            "argument 'salt': 'ndarray' object cannot be converted to 'PyArray<T, D>'",
        ),
        (
            lambda: mirelon_core_py.cond_hash_branch(0, 0, 0.0, u8(bytes(8))[::2]),
            TypeError,
            "The given array is not contiguous",
        ),
        (
            lambda: mirelon_core_py.cond_hash_branch(0, 0, 0.0),
            TypeError,
            "cond_hash_branch() missing 1 required positional argument: 'salt'",
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


def test_extreme_integer_bounds_are_accepted():
    salt = u8(b"x")
    got = mirelon_core_py.cond_hash_branch(U64 - 1, U64 - 1, 0.0, salt)
    assert got == model_cond_hash_branch(U64 - 1, U64 - 1, 0.0, b"x")
    assert 0 <= mirelon_core_py.cond_hash_branch(0, 0, 0.0, salt) < U64


def test_keyword_arguments_bind_by_name():
    salt = u8(b"kw")
    assert mirelon_core_py.prep_condition(salt=salt, high_bound=1.0, low_bound=-1.0) == (
        mirelon_core_py.prep_condition(-1.0, 1.0, salt)
    )
    with pytest.raises(TypeError, match=re.escape("got multiple values for argument 'low_bound'")):
        mirelon_core_py.prep_condition(1.0, 2.0, salt, low_bound=1.0)
