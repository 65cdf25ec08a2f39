import re
import struct

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import mirelon_core_py as m

UNSUPPORTED = "Unsupported field type; expected bytes-like, numpy.uint8 array, str, or non-negative int"
NOT_CONTIGUOUS = "numpy array not contiguous: The given array is not contiguous"
TRUNC = "packet truncated while reading "

SETUP_NAMES = ["public key", "packet", "mode"]
ENCRYPTED_NAMES = ["public key", "private key", "packet", "mode"]

EXAMPLE_34 = bytes.fromhex(
    "1a00000000000000" "0200000000000000" "4142" "0800000000000000" "0700000000000000"
)
EXAMPLE_52 = bytes.fromhex(
    "2c00000000000000"
    "0000000000000000"
    "0300000000000000" "78797a"
    "0100000000000000" "6d"
    "0800000000000000" "0500000000000000"
)


def raises_exactly(exc, text):
    return pytest.raises(exc, match="^" + re.escape(text) + "$")


def frame(*fields, header=None, tail=b""):
    """A blob assembled by hand: each field is raw bytes, or (declared length, bytes)."""
    body = b""
    for f in fields:
        length, data = f if isinstance(f, tuple) else (len(f), f)
        body += struct.pack("<Q", length) + data
    body += tail
    return struct.pack("<Q", len(body) if header is None else header) + body


def le(value):
    return struct.pack("<Q", value)


def utf8_detail(data):
    """The validator's detail derived from Python's own decoder, which also
    reports the maximal subpart as start/end."""
    try:
        data.decode("utf-8")
    except UnicodeDecodeError as e:
        if e.reason == "unexpected end of data":
            assert e.end == len(data)
            return f"incomplete utf-8 byte sequence from index {e.start}"
        return f"invalid utf-8 sequence of {e.end - e.start} bytes from index {e.start}"
    return None


def predicted(data, names):
    """The first failure a reader must report for `data`, or None."""
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
        pos += 8
        if n > len(data) - pos:
            return TRUNC + value_name
        values.append(data[pos : pos + n])
        pos += n
    if len(values[-1]) != 8:
        return f"expected 8-byte identity field, found {len(values[-1])} bytes"
    detail = utf8_detail(values[-2])
    return None if detail is None else "utf-8 decoding failed: " + detail


def outcome(reader, data):
    try:
        reader(data)
    except ValueError as e:
        return str(e)
    return None


# --- the writer -------------------------------------------------------------


def test_no_fields_is_eight_zero_bytes():
    assert m.package_blob() == bytes(8)


def test_bytes_then_integer_example():
    assert m.package_blob(b"AB", 7) == EXAMPLE_34


def test_setup_packet_example_and_reading():
    blob = m.package_blob(b"", b"xyz", "m", 5)
    assert blob == EXAMPLE_52
    assert m.unpack_setup_packet(blob) == (b"", b"xyz", "m", 5)


@pytest.mark.parametrize(
    "field",
    [
        np.array([65, 66], dtype=np.uint8),
        b"AB",
        "AB",
        bytearray(b"AB"),
        [65, 66],
        (65, 66),
        memoryview(b"AB"),
        np.array([65, 66], dtype=np.int64),
        np.array([65, 66], dtype=np.uint16),
        np.array([65, 66], dtype=np.int8),
        np.frombuffer(b"xAB", dtype=np.uint8)[1:],  # contiguous view at an offset
        type("Blob", (bytes,), {})(b"AB"),
        type("Text", (str,), {})("AB"),
    ],
    ids=lambda f: type(f).__name__ + ("-" + str(f.dtype) if isinstance(f, np.ndarray) else ""),
)
def test_equivalent_field_forms(field):
    assert m.package_blob(field, 7) == EXAMPLE_34


@pytest.mark.parametrize(
    "field, value",
    [(True, 1), (False, 0), (np.uint64(5), 5), (np.int32(9), 9), (2**64 - 1, 2**64 - 1)],
    ids=repr,
)
def test_integer_fields(field, value):
    assert m.package_blob(field) == le(16) + le(8) + le(value)


def test_text_is_written_as_utf8():
    assert m.package_blob("é") == le(10) + le(2) + b"\xc3\xa9"


@pytest.mark.parametrize(
    "field",
    [-1, 2**64, 1.5, None, {}, [1, 256], [1, -1], [1, "a"], np.array([[1, 2]], dtype=np.uint8)],
    ids=repr,
)
def test_unsupported_field(field):
    with raises_exactly(TypeError, UNSUPPORTED):
        m.package_blob(b"ok", field)


def test_unsupported_field_leaves_no_pending_error():
    with raises_exactly(TypeError, UNSUPPORTED):
        m.package_blob([1, 256])
    assert m.package_blob(1) == le(16) + le(8) + le(1)


def test_non_contiguous_array():
    a = np.arange(4, dtype=np.uint8)
    with raises_exactly(ValueError, NOT_CONTIGUOUS):
        m.package_blob(a[::2])


def test_unencodable_text():
    with pytest.raises(UnicodeEncodeError):
        m.package_blob("\ud800")


def test_keyword_argument():
    with raises_exactly(TypeError, "package_blob() got an unexpected keyword argument 'x'"):
        m.package_blob(x=1)


# --- the readers ------------------------------------------------------------


@pytest.mark.parametrize("reader", [m.unpack_setup_packet, m.unpack_encrypted_packet])
@pytest.mark.parametrize("data", [bytearray(8), memoryview(bytes(8)), np.zeros(8, np.uint8)])
def test_readers_take_only_bytes(reader, data):
    name = type(data).__name__
    with raises_exactly(TypeError, f"argument 'data': '{name}' object cannot be converted to 'PyBytes'"):
        reader(data)


def test_readers_accept_bytes_subclasses():
    blob = type("Blob", (bytes,), {})(EXAMPLE_52)
    assert m.unpack_setup_packet(blob) == (b"", b"xyz", "m", 5)
    assert m.unpack_setup_packet(data=EXAMPLE_52) == (b"", b"xyz", "m", 5)


@given(
    st.binary(max_size=300),
    st.binary(max_size=300),
    st.binary(max_size=1000),
    st.text(max_size=40),
    st.integers(0, 2**64 - 1),
)
def test_round_trips(public_key, private_key, packet, mode, identity):
    setup = m.package_blob(public_key, packet, mode, identity)
    assert m.unpack_setup_packet(setup) == (public_key, packet, mode, identity)
    encrypted = m.package_blob(public_key, private_key, packet, mode, identity)
    assert m.unpack_encrypted_packet(encrypted) == (public_key, private_key, packet, mode, identity)
    # A setup packet leaves nothing for the encrypted reader's identity.
    with raises_exactly(ValueError, TRUNC + "identity length"):
        m.unpack_encrypted_packet(setup)


@pytest.mark.parametrize(
    "data, setup, encrypted",
    [
        (b"", TRUNC + "total length", None),
        (bytes(7), TRUNC + "total length", None),
        (bytes(8), TRUNC + "public key", None),
        (bytes(16), "declared payload length 0 exceeds available bytes 8", None),
        (le(100) + bytes(42), "declared payload length 100 exceeds available bytes 42", None),
        (frame(b"", b"", b"", b""), "expected 8-byte identity field, found 0 bytes", TRUNC + "identity length"),
        (frame(b"", b"", b"", bytes(9)), "expected 8-byte identity field, found 9 bytes", TRUNC + "identity length"),
        (frame(b"", b"", b"", (9, bytes(8))), TRUNC + "identity value", TRUNC + "mode"),
        (frame(b"", b"", b"\xff", bytes(3)), "expected 8-byte identity field, found 3 bytes", TRUNC + "identity length"),
        (frame(b"", b"", b"\xff", le(1)), "utf-8 decoding failed: invalid utf-8 sequence of 1 bytes from index 0", TRUNC + "identity length"),
        (frame(b"", b"", b"\xe2", le(1)), "utf-8 decoding failed: incomplete utf-8 byte sequence from index 0", TRUNC + "identity length"),
        (frame(b"", b"", b"A\xe2\x82", le(1)), "utf-8 decoding failed: incomplete utf-8 byte sequence from index 1", TRUNC + "identity length"),
        (frame(b"", b"", b"A\xe2A", le(1)), "utf-8 decoding failed: invalid utf-8 sequence of 1 bytes from index 1", TRUNC + "identity length"),
        (frame(b"", b"", b"", le(1), tail=b"extra"), None, TRUNC + "identity length"),
        (frame(b"", b"", b"", le(1), b""), None, "expected 8-byte identity field, found 0 bytes"),
    ],
)
def test_reader_failures(data, setup, encrypted):
    assert outcome(m.unpack_setup_packet, data) == setup
    assert outcome(m.unpack_encrypted_packet, data) == (encrypted or setup)


def test_trailing_bytes_are_ignored():
    blob = frame(b"k", b"p", b"m", le(3), tail=b"\xff" * 9)
    assert m.unpack_setup_packet(blob) == (b"k", b"p", "m", 3)


def test_empty_fields_need_no_bytes():
    blob = m.package_blob(b"", b"", "", 9)
    assert len(blob) == 48 and blob[:8] == le(40)
    assert m.unpack_setup_packet(blob) == (b"", b"", "", 9)


@pytest.mark.parametrize("huge", [2**64 - 1, 2**64 - 8, 2**64 - 16, 2**63, 2**32])
@pytest.mark.parametrize("position", range(4))
def test_huge_lengths_are_truncations(huge, position):
    fields = [b""] * position + [(huge, bytes(16))]
    data = frame(*fields)
    assert outcome(m.unpack_setup_packet, data) == TRUNC + (SETUP_NAMES + ["identity value"])[position]
    assert outcome(m.unpack_encrypted_packet, data) == TRUNC + ENCRYPTED_NAMES[position]


SETUP_BLOB = m.package_blob(b"\x01\x02\x03", b"packet", "mo\u00e9", 77)
ENCRYPTED_BLOB = m.package_blob(b"\x01\x02", b"\x03\x04\x05", b"p", "m\u20ac", 2**64 - 2)
READERS = [
    (m.unpack_setup_packet, SETUP_BLOB, SETUP_NAMES),
    (m.unpack_encrypted_packet, ENCRYPTED_BLOB, ENCRYPTED_NAMES),
]


@pytest.mark.parametrize("reader, blob, names", READERS, ids=["setup", "encrypted"])
def test_truncation_at_every_offset(reader, blob, names):
    for cut in range(len(blob)):
        prefix = blob[:cut]
        assert outcome(reader, prefix) == predicted(prefix, names)
        if cut >= 8:
            fixed = le(cut - 8) + prefix[8:]
            expected = predicted(fixed, names)
            assert expected.startswith(TRUNC)
            assert outcome(reader, fixed) == expected, cut


@pytest.mark.parametrize("reader, blob, names", READERS, ids=["setup", "encrypted"])
def test_single_byte_corruption_of_length_fields(reader, blob, names):
    length_offsets, pos = [0], 8
    while pos < len(blob):
        length_offsets.append(pos)
        pos += 8 + struct.unpack_from("<Q", blob, pos)[0]
    for start in length_offsets:
        for at in range(start, start + 8):
            for value in (0x00, 0x01, 0x07, 0x09, 0x80, 0xFF):
                bad = bytearray(blob)
                bad[at] = value
                bad = bytes(bad)
                assert outcome(reader, bad) == predicted(bad, names), (at, value)


@settings(max_examples=300)
@given(st.data())
def test_random_corruptions_match_the_predicted_failure(data):
    reader, blob, names = data.draw(st.sampled_from(READERS))
    bad = bytearray(blob)
    for _ in range(data.draw(st.integers(1, 3))):
        bad[data.draw(st.integers(0, len(bad) - 1))] = data.draw(st.integers(0, 255))
    cut = data.draw(st.integers(0, len(bad)))
    bad = bytes(bad[:cut])
    if data.draw(st.booleans()) and len(bad) >= 8:
        bad = le(len(bad) - 8) + bad[8:]
    assert outcome(reader, bad) == predicted(bad, names)


# --- UTF-8 of the mode ------------------------------------------------------


def mode_failure(mode_bytes):
    return outcome(m.unpack_setup_packet, frame(b"", b"", mode_bytes, le(0)))


@pytest.mark.parametrize(
    "mode, detail",
    [
        (b"\xc0\x80", "invalid utf-8 sequence of 1 bytes from index 0"),  # overlong
        (b"\xc1\xbf", "invalid utf-8 sequence of 1 bytes from index 0"),
        (b"\xe0\x9f\xbf", "invalid utf-8 sequence of 1 bytes from index 0"),
        (b"\xf0\x8f\xbf\xbf", "invalid utf-8 sequence of 1 bytes from index 0"),
        (b"ab\xed\xa0\x80", "invalid utf-8 sequence of 1 bytes from index 2"),  # surrogate
        (b"\xed\xbf\xbf", "invalid utf-8 sequence of 1 bytes from index 0"),
        (b"\xf4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"),  # above U+10FFFF
        (b"\xf5\x80\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"),
        (b"\xc2", "incomplete utf-8 byte sequence from index 0"),
        (b"x\xe2\x82", "incomplete utf-8 byte sequence from index 1"),
        (b"\xf0\x9f\x98", "incomplete utf-8 byte sequence from index 0"),
        (b"\xe2\x82A", "invalid utf-8 sequence of 2 bytes from index 0"),
        (b"\xf0\x9f\x98A", "invalid utf-8 sequence of 3 bytes from index 0"),
        (b"a\xf1\x80\x80\xe1\x80\xc2b\x80c\x80\xbfd", "invalid utf-8 sequence of 3 bytes from index 1"),
        (b"0123456789abcdef\x80", "invalid utf-8 sequence of 1 bytes from index 16"),
    ],
)
def test_mode_utf8_details(mode, detail):
    assert utf8_detail(mode) == detail  # Python's decoder finds the same subpart
    assert mode_failure(mode) == "utf-8 decoding failed: " + detail


@settings(max_examples=2000)
@given(
    st.lists(
        st.one_of(
            st.sampled_from([0x41, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC2, 0xDF, 0xE0,
                             0xE1, 0xED, 0xEF, 0xF0, 0xF1, 0xF4, 0xF5, 0xFF]),
            st.integers(0, 255),
        ),
        max_size=24,
    ).map(bytes)
)
def test_mode_utf8_agrees_with_python(mode):
    detail = utf8_detail(mode)
    expected = None if detail is None else "utf-8 decoding failed: " + detail
    assert mode_failure(mode) == expected
