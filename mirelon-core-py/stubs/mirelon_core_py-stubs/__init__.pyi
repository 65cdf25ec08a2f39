"""Types of the mirelon_core_py extension module.

Array parameters take one-dimensional, contiguous NumPy arrays of uint8 (for
example ``numpy.frombuffer(data, dtype=numpy.uint8)``); bytes, bytearray and
lists are refused there. Unsigned 64-bit parameters take anything with
``__index__``; the single-precision ones (``test_value`` and the bounds of
``prep_condition``) anything ``float()`` accepts. A list parameter takes any
sequence of such arrays except a str; a C-contiguous two-dimensional uint8
array, one row per party, works too at run time but is written
``list(array)`` to satisfy a type checker. Every parameter can be given by
keyword except the fields of ``package_blob``.
"""

from typing import Any, Sequence, SupportsFloat, SupportsIndex, Tuple, Union

import numpy as np
import numpy.typing as npt

__all__ = [
    "involute_packet",
    "cycle_packet",
    "get_chunk_size",
    "get_chunk_size_min",
    "cond_involute_packet",
    "gen_key",
    "prep_condition",
    "cond_hash_branch",
    "map_data",
    "inv_data",
    "package_blob",
    "unpack_setup_packet",
    "unpack_encrypted_packet",
]

_ByteArray = npt.NDArray[np.uint8]
_Float = Union[SupportsFloat, SupportsIndex]
# A blob field: a uint8 array, bytes or str is written as its bytes; an integer
# from 0 to 2**64 - 1 as an 8-byte field; any other sequence (bytearray,
# memoryview, a list, an integer array) as a field of its elements, each 0 to 255.
_BlobField = Union[
    npt.NDArray[np.integer[Any]],
    bytes,
    bytearray,
    memoryview,
    str,
    SupportsIndex,
    Sequence[SupportsIndex],
]

def involute_packet(packet: _ByteArray, salt: _ByteArray, chunk_size: SupportsIndex) -> bytes:
    """Rearrange a packet's chunks in a salted order that the same call undoes.

    Args:
        packet: The bytes to rearrange, any length.
        salt: Any bytes, also none; another salt gives another order.
        chunk_size: Bytes per chunk, dividing the packet's length; 0 returns
            the packet unchanged.

    Returns:
        The packet's chunks in the new order, each exactly once.

    Raises:
        ValueError: The chunk size does not divide the length, or two chunks
            are equal (``get_chunk_size`` finds a size without repeats).
        TypeError: A wrong argument type, or a strided array.
        OverflowError: ``chunk_size`` negative or 2**64 or more.
    """

def cycle_packet(
    packet: _ByteArray,
    old_salt: _ByteArray,
    new_salt: _ByteArray,
    old_key: _ByteArray,
    new_key: _ByteArray,
    chunk_size: SupportsIndex,
) -> bytes:
    """Move an involuted packet to a new salt and key in one call.

    Undoes the involution under ``old_salt``, rewrites each byte from
    ``old_key`` to ``new_key``, and involutes under ``new_salt``.

    Args:
        packet: A packet involuted with ``old_salt`` and ``chunk_size``.
        old_salt: The salt it was involuted with.
        new_salt: The salt of the result.
        old_key: The key (256-byte alphabet) the packet's bytes are written in.
        new_key: The key of the result: the same bytes as ``old_key``, in
            another order.
        chunk_size: The chunk size of both involutions; 0 moves no chunks.

    Returns:
        The moved packet, as many bytes as ``packet``.

    Raises:
        PanicException: The keys do not hold the same bytes (derives from
            BaseException, not Exception).
        ValueError: The chunk size does not divide the length, or two chunks
            are equal before or after the rewriting.
        TypeError: A wrong argument type, or a strided array.
        OverflowError: ``chunk_size`` negative or 2**64 or more.
    """

def get_chunk_size(packet: _ByteArray) -> int:
    """The smallest usable chunk size of ``packet`` from 4 bytes up.

    Args:
        packet: The packet to be involuted.

    Returns:
        The smallest size from 4 to half the length that divides the length
        and gives pairwise different chunks; the length itself when none does
        or the packet is shorter than 8 bytes; 0 for an empty packet.

    Raises:
        TypeError: ``packet`` is not a 1-D uint8 array, or is strided.
    """

def get_chunk_size_min(packet: _ByteArray, min_size: SupportsIndex) -> int:
    """The smallest usable chunk size of ``packet`` from ``min_size`` up.

    Larger chunks mean fewer to reorder, and faster involutions.

    Args:
        packet: The packet to be involuted.
        min_size: The smallest chunk size to try; at least 1 for a non-empty
            packet.

    Returns:
        The smallest size found; the packet's length when ``min_size`` is more
        than half of it or no size works; 0 for an empty packet.

    Raises:
        PanicException: ``min_size`` is 0 and the packet is not empty
            (derives from BaseException, not Exception).
        OverflowError: ``min_size`` negative or 2**64 or more.
        TypeError: ``min_size`` not an integer, or a wrong or strided packet.
    """

def cond_involute_packet(
    packet: _ByteArray,
    involute_salt: _ByteArray,
    chunk_size: SupportsIndex,
    low_bound: SupportsIndex,
    high_bound: SupportsIndex,
    test_value: _Float,
) -> bytes:
    """An involution whose order depends on whether a value lies in a range.

    Every test value inside the prepared range gives one order, every value
    outside another, so a packet sealed with a value inside opens for any
    value inside.

    Args:
        packet: The bytes to rearrange.
        involute_salt: The salt; also the one the bounds were prepared with.
        chunk_size: Bytes per chunk, as for ``involute_packet``.
        low_bound: The prepared low bound, first element of
            ``prep_condition``'s result.
        high_bound: The prepared high bound, second element.
        test_value: The value to test, rounded to single precision.

    Returns:
        The packet's chunks in the order of the test value's branch.

    Raises:
        ValueError: The chunk size does not divide the length, or two chunks
            are equal.
        TypeError: A bound given as a float (pass the prepared bounds), a
            ``test_value`` that is no number, a wrong or strided array.
        PanicException: ``test_value`` is the one NaN with bit pattern
            0x7fffffff (derives from BaseException, not Exception).
        OverflowError: A negative integer or one of 2**64 or more.
    """

def gen_key(party_id: str, purpose: str, master_seed: _ByteArray) -> bytes:
    """A fresh 256-byte key for a party and purpose from a master seed.

    Fresh randomness from the operating system is mixed in, so the same
    arguments never give the same key twice: keep the keys you hand out.

    Args:
        party_id: Who the key is for, any text.
        purpose: What the key is for, any text (for example "public" or
            "private").
        master_seed: The session's secret seed, exactly 32 bytes.

    Returns:
        256 bytes holding every byte value once.

    Raises:
        ValueError: ``master_seed`` is not 32 bytes long, or is strided.
        TypeError: A label that is not a str, or a seed that is not a 1-D
            uint8 array.
        UnicodeEncodeError: A label holds a lone surrogate.
        PanicException: The operating system's random source fails (derives
            from BaseException, not Exception).
    """

def prep_condition(low_bound: _Float, high_bound: _Float, salt: _ByteArray) -> Tuple[int, int]:
    """Turn a range of numbers into two prepared bounds under a salt.

    Args:
        low_bound: The lowest value inside the range, rounded to single
            precision.
        high_bound: The highest value inside the range, likewise.
        salt: The key of the mapping, any bytes, also none.

    Returns:
        ``(low, high)``, two ints from 0 to 2**64 - 1 that keep the bounds'
        order, for ``cond_involute_packet`` and ``cond_hash_branch``.

    Raises:
        TypeError: A bound that is no number, or a wrong or strided salt.
        PanicException: A bound is the one NaN with bit pattern 0x7fffffff
            (derives from BaseException, not Exception).
    """

def cond_hash_branch(
    low_bound: SupportsIndex, high_bound: SupportsIndex, test_value: _Float, salt: _ByteArray
) -> int:
    """The branch value of a test value against prepared bounds.

    The number behind ``cond_involute_packet``'s choice of order: one value
    for every test value inside the range, another for every one outside.

    Args:
        low_bound: The prepared low bound from ``prep_condition``.
        high_bound: The prepared high bound.
        test_value: The value to test, rounded to single precision.
        salt: The salt the bounds were prepared with.

    Returns:
        An int from 0 to 2**64 - 1; inside and outside differ by
        0xdeadbeefdeadbeef (exclusive or).

    Raises:
        OverflowError: A bound negative or 2**64 or more.
        TypeError: A ``test_value`` that is no number, a bound that is not an
            integer, or a wrong or strided salt.
        PanicException: ``test_value`` is the one NaN with bit pattern
            0x7fffffff (derives from BaseException, not Exception).
    """

def map_data(
    pub_key: _ByteArray,
    priv_key: _ByteArray,
    identity: SupportsIndex,
    data_sequences: Sequence[_ByteArray],
) -> bytes:
    """One party's mapped sequence from every party's data.

    Byte i of the result depends on byte i of every party's sequence, the
    public key and the private key of party ``identity``.

    Args:
        pub_key: The group's public key, 256 bytes.
        priv_key: The private key of party ``identity``, 256 bytes.
        identity: The index of the party, 0 to parties - 1.
        data_sequences: Every party's data in party order, at least two, all
            of one length.

    Returns:
        The mapped sequence, as long as each party's data.

    Raises:
        TypeError: ``data_sequences`` is a str or holds something other than
            1-D uint8 arrays; a wrong key or ``identity`` type.
        PanicException: A strided sequence, fewer than two parties,
            ``identity`` out of range, sequences of different lengths, or a
            key shorter than 256 bytes (derives from BaseException, not
            Exception).
        OverflowError: ``identity`` negative or 2**64 or more.
    """

def inv_data(
    pub_key: _ByteArray, priv_keys: Sequence[_ByteArray], data_sequences: Sequence[_ByteArray]
) -> list[bytes]:
    """Every party's data from all mapped sequences and all private keys.

    Args:
        pub_key: The group's public key, exactly 256 bytes.
        priv_keys: Every party's private key, in party order.
        data_sequences: Every party's mapped sequence, in party order, all of
            one length.

    Returns:
        One bytes object per party, in party order.

    Raises:
        TypeError: ``priv_keys`` or ``data_sequences`` is not a sequence of
            1-D uint8 arrays.
        PanicException: A strided element, lists of different lengths, no
            parties or only one, sequences of different lengths, or a public
            key that is not 256 bytes (derives from BaseException, not
            Exception).
    """

def package_blob(*args: _BlobField) -> bytes:
    """Frame fields into one length-prefixed blob.

    A setup packet is ``package_blob(public_key, packet, mode, identity)``, an
    encrypted packet ``package_blob(public_key, private_key, packet, mode,
    identity)``.

    Args:
        *args: The fields, by position only: a uint8 array, bytes or str is
            written as its bytes; an int from 0 to 2**64 - 1 as an 8-byte
            field; any other sequence of ints 0 to 255 as those bytes.

    Returns:
        The blob: an 8-byte total length, then each field as an 8-byte length
        and its bytes.

    Raises:
        TypeError: A keyword argument, or a field that fits no rule (a
            negative or too large int, a float, None, a value beyond 255).
        ValueError: A strided uint8 array.
        UnicodeEncodeError: A str holding a lone surrogate.
    """

def unpack_setup_packet(data: bytes) -> Tuple[bytes, bytes, str, int]:
    """Read a setup packet written by ``package_blob``.

    Args:
        data: The blob, as bytes (pass ``bytes(...)`` for other buffers).

    Returns:
        ``(public_key, packet, mode, identity)``: the mode decoded as UTF-8,
        the identity as an unsigned little-endian int.

    Raises:
        ValueError: The blob is truncated, its total length is wrong, the
            identity field is not 8 bytes, or the mode is not UTF-8.
        TypeError: ``data`` is not a bytes object.
    """

def unpack_encrypted_packet(data: bytes) -> Tuple[bytes, bytes, bytes, str, int]:
    """Read an encrypted packet written by ``package_blob``.

    Args:
        data: The blob, as bytes (pass ``bytes(...)`` for other buffers).

    Returns:
        ``(public_key, private_key, packet, mode, identity)``: the mode
        decoded as UTF-8, the identity as an unsigned little-endian int.

    Raises:
        ValueError: The blob is truncated, its total length is wrong, the
            identity field is not 8 bytes, or the mode is not UTF-8.
        TypeError: ``data`` is not a bytes object.
    """
