"""package_blob and the two blob readers against a model reader."""

import struct

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

import mirelon_core_py as m
from conftest import outcome, raises_exactly

UNSUPPORTED = "Unsupported field type; expected bytes-like, numpy.uint8 array, str, or non-negative int"
TRUNC = "packet truncated while reading "
SETUP_NAMES = ["public key", "packet", "mode"]
ENCRYPTED_NAMES = ["public key", "private key", "packet", "mode"]


def le(value):
    return struct.pack("<Q", value)


def frame(*fields, header=None, tail=b""):
    """A blob assembled by hand: each field is raw bytes, or (declared length, bytes)."""
    body = b"".join(le(f[0]) + f[1] if isinstance(f, tuple) else le(len(f)) + f for f in fields) + tail
    return le(len(body) if header is None else header) + body


def utf8_detail(data):
    """The validator's detail from Python's decoder, which finds the same maximal subpart."""
    try:
        data.decode("utf-8")
    except UnicodeDecodeError as e:
        if e.reason == "unexpected end of data":
            return f"incomplete utf-8 byte sequence from index {e.start}"
        return f"invalid utf-8 sequence of {e.end - e.start} bytes from index {e.start}"
    return None


def predicted(data, names):
    """The model reader: the failure a reader must report for `data`, or the fields it returns."""
    if len(data) < 8:
        return TRUNC + "total length"
    declared = struct.unpack_from("<Q", data)[0]
    if declared != len(data) - 8:
        return f"declared payload length {declared} exceeds available bytes {len(data) - 8}"
    pos, values = 8, []
    for length_name, value_name in [(n, n) for n in names] + [("identity length", "identity value")]:
        if len(data) - pos < 8:
            return TRUNC + length_name
        n = struct.unpack_from("<Q", data, pos)[0]
        if n > len(data) - pos - 8:
            return TRUNC + value_name
        values.append(data[pos + 8 : pos + 8 + n])
        pos += 8 + n
    if len(values[-1]) != 8:
        return f"expected 8-byte identity field, found {len(values[-1])} bytes"
    if utf8_detail(values[-2]) is not None:
        return "utf-8 decoding failed: " + utf8_detail(values[-2])
    return (*values[:-2], values[-2].decode(), struct.unpack("<Q", values[-1])[0])


READERS = {"setup": ("unpack_setup_packet", SETUP_NAMES), "encrypted": ("unpack_encrypted_packet", ENCRYPTED_NAMES)}


def check(data):
    """Both readers agree with the model on `data`; returns their two outcomes."""
    got = tuple(outcome(getattr(m, reader), data) for reader, _ in READERS.values())
    assert got == tuple(predicted(data, names) for _, names in READERS.values())
    return got


# --- the writer -------------------------------------------------------------


@pytest.mark.parametrize(
    "field, encoded",
    [
        *[(f, b"AB") for f in ["AB", bytearray(b"AB"), [65, 66], (65, 66), memoryview(b"AB"),
                              np.array([65, 66], dtype=np.int64), np.array([65, 66], dtype=np.int8),
                              np.frombuffer(b"xAB", dtype=np.uint8)[1:],  # contiguous view at an offset
                              type("Blob", (bytes,), {})(b"AB"), type("Text", (str,), {})("AB")]],
        ("é", b"\xc3\xa9"),
        *[(f, le(v)) for f, v in [(True, 1), (np.uint64(5), 5), (np.int32(9), 9), (2**64 - 1, 2**64 - 1)]],
    ],
    ids=repr,
)
def test_field_forms(field, encoded):
    assert m.package_blob(field) == le(8 + len(encoded)) + le(len(encoded)) + encoded


@pytest.mark.parametrize(
    "fields, exc, text",
    [
        # The reference page shows the other refusals.
        ((1.5,), TypeError, UNSUPPORTED),
        ((np.array([[1, 2]], dtype=np.uint8),), TypeError, UNSUPPORTED),
        ((b"ok", np.arange(4, dtype=np.uint8)[::-1]), ValueError, "numpy array not contiguous: The given array is not contiguous"),
    ],
)
def test_refused_fields(fields, exc, text):
    with raises_exactly(exc, text):
        m.package_blob(*fields)
    assert m.package_blob(1) == le(16) + le(8) + le(1)  # no error left pending


# --- the readers ------------------------------------------------------------


@given(st.binary(max_size=300), st.binary(max_size=300), st.binary(max_size=1000), st.text(max_size=40),
       st.integers(0, 2**64 - 1))
def test_round_trips(public_key, private_key, packet, mode, identity):
    setup = m.package_blob(public_key, packet, mode, identity)
    assert check(setup) == ((public_key, packet, mode, identity), TRUNC + "identity length")
    encrypted = m.package_blob(public_key, private_key, packet, mode, identity)
    assert m.unpack_encrypted_packet(encrypted) == (public_key, private_key, packet, mode, identity)




@pytest.mark.parametrize("huge", [2**64 - 1, 2**64 - 8, 2**64 - 16, 2**63, 2**32])
@pytest.mark.parametrize("position", range(4))
def test_huge_lengths_are_truncations(huge, position):
    setup_names = SETUP_NAMES + ["identity value"]
    expected = (TRUNC + setup_names[position], TRUNC + ENCRYPTED_NAMES[position])
    assert check(frame(*[b""] * position, (huge, bytes(16)))) == expected


BLOBS = [frame(b"\x01\x02\x03", b"packet", "mo\u00e9".encode(), le(77)),
         frame(b"\x01\x02", b"\x03\x04\x05", b"p", "m\u20ac".encode(), le(2**64 - 2))]


@pytest.mark.parametrize("blob", BLOBS, ids=["setup", "encrypted"])
def test_truncation_at_every_offset_and_length_byte_corruption(blob):
    for cut in range(len(blob)):
        check(blob[:cut])
        check(le(max(cut - 8, 0)) + blob[8:cut])  # a header that agrees with the cut
    pos = 0
    while pos < len(blob):
        for at in range(pos, pos + 8):
            for value in (0x00, 0x01, 0x07, 0x09, 0x80, 0xFF):
                check(blob[:at] + bytes([value]) + blob[at + 1 :])
        pos += 8 if pos == 0 else 8 + struct.unpack_from("<Q", blob, pos)[0]
