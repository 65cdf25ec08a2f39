"""prep_condition and cond_hash_branch against a pure-Python model of the
salted order-preserving map (also used by test_involute.py)."""

import hashlib
import hmac
import math
import struct

import numpy as np
import pytest

import mirelon_core_py as m
from conftest import u8

IN_RANGE_MASK = 0xDEADBEEFDEADBEEF
U64 = 2**64


# --- Model -------------------------------------------------------------------


def f32_bits(value):
    """Bit pattern of `value` rounded once to float32 (ties to even, overflow to inf)."""
    with np.errstate(over="ignore"):
        return int(np.array([value], dtype=np.float64).astype(np.float32).view(np.uint32)[0])


def f32_from_bits(bits):
    return float(np.array([bits], dtype=np.uint32).view(np.float32)[0])


def order_key(bits):
    return (~bits & 0xFFFFFFFF) if bits & 0x80000000 else bits ^ 0x80000000


def map_value(salt, x):
    """Walks the domain 0..2^32-2 onto 0..2^64-2 by HMAC-chosen pivots."""
    assert 0 <= x <= 0xFFFFFFFE
    dlo, dhi, rlo, rhi, depth = 0, 0xFFFFFFFE, 0, U64 - 2, 0
    floor_u64 = lambda v: 0 if not v >= 0.0 else U64 - 1 if v >= 2.0**64 else math.floor(v)  # noqa: E731
    while dlo != dhi:
        mac = hmac.new(salt, struct.pack(">IIQQI", dlo, dhi, rlo, rhi, depth), hashlib.sha256).digest()
        u = float(int.from_bytes(mac[:8], "big")) * 2.0**-64  # int -> float: ties to even
        dp = dlo + floor_u64(u * float(dhi - dlo + 1))
        rp = (rlo + floor_u64(u * float((rhi - rlo + 1) % U64))) % U64
        if dp == x:
            return rp
        if dp > x:
            dhi, rhi = (dp - 1) & 0xFFFFFFFF, (rp - 1) % U64
        else:
            dlo, rlo = (dp + 1) & 0xFFFFFFFF, (rp + 1) % U64
        depth = (depth + 1) & 0xFFFFFFFF
    return rlo


def model_prep_condition(low, high, salt):
    return tuple(map_value(salt, order_key(f32_bits(v))) for v in (low, high))


def model_cond_hash_branch(low, high, test_value, salt):
    h = int.from_bytes(hashlib.sha256(struct.pack(">QQ", low, high) + salt).digest()[:8], "little")
    inside = low <= map_value(salt, order_key(f32_bits(test_value))) <= high
    return h ^ (low & high) ^ (IN_RANGE_MASK if inside else 0)


# --- Agreement with the model (known answers: test_vectors.py) ---------------


def test_special_values_map_like_the_model_in_float_order():
    ordered = [
        0xFFC00000,  # NaN with the sign bit: below -inf
        0xFF800000, 0xFF7FFFFF, 0xBF800000, 0x80800000, 0x80000001,  # -inf .. -min subnormal
        0x80000000, 0x00000000,  # -0.0 below +0.0
        0x00000001, 0x00800000, 0x3F800000, 0x3F800001, 0x7F7FFFFF, 0x7F800000,
        0x7FC00000,  # quiet NaN: above +inf
        0x7FFFFFFE,  # the largest key inside the domain
    ]
    mapped = [m.prep_condition(f32_from_bits(b), 0.0, u8(b"order"))[0] for b in ordered]
    assert mapped == [map_value(b"order", order_key(b)) for b in ordered]
    assert mapped == sorted(set(mapped))


@pytest.mark.parametrize(
    "test_value, inside",
    [(-1.0, True), (1.0, True), (-0.0, True), (2.0, False), (-1.0000001, False), (float("nan"), False)],
)
def test_the_bounds_are_inside(test_value, inside):
    lo, hi = m.prep_condition(-1.0, 1.0, u8(b"branch"))
    outside_value = model_cond_hash_branch(lo, hi, 5.0, b"branch")
    got = m.cond_hash_branch(lo, hi, test_value, u8(b"branch"))
    assert got == outside_value ^ (IN_RANGE_MASK if inside else 0)


@pytest.mark.parametrize(
    "given_value, same_as",
    [
        (-1, -1.0),
        (np.float32(2.5), 2.5),
        (0.1, f32_from_bits(f32_bits(0.1))),  # rounded once to float32
        (1e300, float("inf")),
        (1.0 + 2.0**-24, 1.0),  # a tie rounds to even
        (1.0 + 3 * 2.0**-24, f32_from_bits(0x3F800002)),
    ],
)
def test_float_arguments_are_rounded_once_to_float32(given_value, same_as):
    salt = u8(b"conv")
    assert m.prep_condition(given_value, 0.0, salt) == m.prep_condition(same_as, 0.0, salt)
    assert m.cond_hash_branch(1, 2**63, given_value, salt) == m.cond_hash_branch(1, 2**63, same_as, salt)
