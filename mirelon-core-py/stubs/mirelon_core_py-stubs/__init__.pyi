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

def involute_packet(packet: _ByteArray, salt: _ByteArray, chunk_size: SupportsIndex) -> bytes: ...
def cycle_packet(
    packet: _ByteArray,
    old_salt: _ByteArray,
    new_salt: _ByteArray,
    old_key: _ByteArray,
    new_key: _ByteArray,
    chunk_size: SupportsIndex,
) -> bytes: ...
def get_chunk_size(packet: _ByteArray) -> int: ...
def get_chunk_size_min(packet: _ByteArray, min_size: SupportsIndex) -> int: ...
def cond_involute_packet(
    packet: _ByteArray,
    involute_salt: _ByteArray,
    chunk_size: SupportsIndex,
    low_bound: SupportsIndex,
    high_bound: SupportsIndex,
    test_value: _Float,
) -> bytes: ...
def gen_key(party_id: str, purpose: str, master_seed: _ByteArray) -> bytes: ...
def prep_condition(low_bound: _Float, high_bound: _Float, salt: _ByteArray) -> Tuple[int, int]: ...
def cond_hash_branch(
    low_bound: SupportsIndex, high_bound: SupportsIndex, test_value: _Float, salt: _ByteArray
) -> int: ...
def map_data(
    pub_key: _ByteArray,
    priv_key: _ByteArray,
    identity: SupportsIndex,
    data_sequences: Sequence[_ByteArray],
) -> bytes: ...
def inv_data(
    pub_key: _ByteArray, priv_keys: Sequence[_ByteArray], data_sequences: Sequence[_ByteArray]
) -> list[bytes]: ...
def package_blob(*args: _BlobField) -> bytes: ...
def unpack_setup_packet(data: bytes) -> Tuple[bytes, bytes, str, int]:
    """(public_key, packet, mode, identity)"""

def unpack_encrypted_packet(data: bytes) -> Tuple[bytes, bytes, bytes, str, int]:
    """(public_key, private_key, packet, mode, identity)"""
