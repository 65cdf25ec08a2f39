"""What every function shares: argument binding, conversion of every argument,
then contiguity of the arrays, in that order. The reference pages' examples
(test_docs.py) show every documented text once; these are the rules behind
them."""

import numpy as np
import pytest

import mirelon_core_py as m
from conftest import u8

class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


CAUSED = TypeError("index refused")
CAUSED.__cause__ = KeyError("inner")
Refusal = type("Refusal", (TypeError,), {})
STRIDED = np.arange(16, dtype=np.uint8)[::2]
KEY = u8(range(256))
NOT_ARRAY = "'{}' object cannot be converted to 'PyArray<T, D>'"
NOT_CONTIGUOUS = "The given array is not contiguous"
NOT_INDEX = "'{}' object cannot be interpreted as an integer"


@pytest.mark.parametrize(
    "call, exc, text",
    [
        (lambda: m.cond_hash_branch(1, test_value=0.0), TypeError,
         "cond_hash_branch() missing 2 required positional arguments: 'high_bound' and 'salt'"),
        (lambda: m.cycle_packet(), TypeError, "cycle_packet() missing 6 required positional arguments: 'packet', "
         "'old_salt', 'new_salt', 'old_key', 'new_key', and 'chunk_size'"),
        (lambda: m.get_chunk_size(np.zeros((2, 2), np.uint8)), TypeError, "argument 'packet': " + NOT_ARRAY.format("ndarray")),
        (lambda: m.get_chunk_size(type("Inner", (), {"__qualname__": "Outer.Inner"})()), TypeError,
         "argument 'packet': " + NOT_ARRAY.format("Outer.Inner")),
        # A plain TypeError gains the argument's name and keeps its cause; a subclass passes unchanged.
        (lambda: m.get_chunk_size_min(KEY, Index(CAUSED)), TypeError, "argument 'min_size': index refused"),
        (lambda: m.get_chunk_size_min(KEY, Index(Refusal("plain"))), Refusal, "plain"),
        (lambda: m.prep_condition(10**400, 2.0, u8()), OverflowError, "int too large to convert to float"),
        (lambda: m.cond_hash_branch(0, 0, "x", STRIDED), TypeError, "argument 'test_value': must be real number, not str"),
        (lambda: m.involute_packet(STRIDED, u8(), 4.0), TypeError, "argument 'chunk_size': " + NOT_INDEX.format("float")),
        (lambda: m.cond_involute_packet(u8(b"abc"), STRIDED, 2, 0, 0, 0.0), TypeError, NOT_CONTIGUOUS),
        (lambda: m.cycle_packet(STRIDED, u8(), u8(), u8(), b"", 0), TypeError, "argument 'new_key': " + NOT_ARRAY.format("bytes")),
        (lambda: m.map_data(STRIDED, KEY, 0, "ab"), TypeError, "argument 'data_sequences': Can't extract `str` to `Vec`"),
        (lambda: m.map_data(KEY, STRIDED, 0, [STRIDED]), TypeError, NOT_CONTIGUOUS),  # keys before elements
        (lambda: m.inv_data(STRIDED, [STRIDED], [STRIDED]), TypeError, NOT_CONTIGUOUS),
        (lambda: m.gen_key(1, 2, b"x"), TypeError, "argument 'party_id': 'int' object cannot be converted to 'PyString'"),
        (lambda: m.gen_key("a", 2, STRIDED), TypeError, "argument 'purpose': 'int' object cannot be converted to 'PyString'"),
        (lambda: m.gen_key("a", "\ud800", STRIDED), UnicodeEncodeError,
         "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed"),
    ],
)
def test_argument_errors(call, exc, text):
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc
    assert str(info.value) == text
    if text.endswith("index refused"):
        assert info.value.__cause__ is CAUSED.__cause__


@pytest.mark.parametrize("value, expected", [(True, 1), (np.int32(9), 16), (Index(6), 8), (2**64 - 1, 256)])
def test_unsigned_integers_accepted(value, expected):
    # 256 distinct bytes: the smallest divisor of 256 at least the minimum.
    assert m.get_chunk_size_min(KEY, value) == expected


def test_a_claimed_length_does_not_decide_memory():
    class ClaimsHugeLength(list):
        def __len__(self):
            return 2**62

    key = np.arange(256, dtype=np.uint8)
    seqs = [u8(b"abc"), u8(b"xyz")]
    assert m.map_data(key, key, 0, ClaimsHugeLength(seqs)) == m.map_data(key, key, 0, seqs)
    assert m.package_blob(ClaimsHugeLength([65, 66])) == m.package_blob(b"AB")
