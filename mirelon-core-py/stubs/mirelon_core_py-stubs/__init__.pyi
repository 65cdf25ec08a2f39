"""Types of the mirelon_core_py extension module."""

from typing import Sequence, SupportsIndex, Tuple, Union

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

ByteArray = npt.NDArray[np.uint8]
_Index = Union[int, SupportsIndex]
_Float = Union[float, int, SupportsIndex]
BlobField = Union[ByteArray, bytes, bytearray, memoryview, str, int, Sequence[int]]

def involute_packet(packet: ByteArray, salt: ByteArray, chunk_size: _Index) -> bytes: ...
def cycle_packet(
    packet: ByteArray,
    old_salt: ByteArray,
    new_salt: ByteArray,
    old_key: ByteArray,
    new_key: ByteArray,
    chunk_size: _Index,
) -> bytes: ...
def get_chunk_size(packet: ByteArray) -> int: ...
def get_chunk_size_min(packet: ByteArray, min_size: _Index) -> int: ...
def cond_involute_packet(
    packet: ByteArray,
    involute_salt: ByteArray,
    chunk_size: _Index,
    low_bound: _Index,
    high_bound: _Index,
    test_value: _Float,
) -> bytes: ...
def gen_key(party_id: str, purpose: str, master_seed: ByteArray) -> bytes: ...
def prep_condition(low_bound: _Float, high_bound: _Float, salt: ByteArray) -> Tuple[int, int]: ...
def cond_hash_branch(
    low_bound: _Index, high_bound: _Index, test_value: _Float, salt: ByteArray
) -> int: ...
def map_data(
    pub_key: ByteArray, priv_key: ByteArray, identity: _Index, data_sequences: Sequence[ByteArray]
) -> bytes: ...
def inv_data(
    pub_key: ByteArray, priv_keys: Sequence[ByteArray], data_sequences: Sequence[ByteArray]
) -> list[bytes]: ...
def package_blob(*args: BlobField) -> bytes: ...
def unpack_setup_packet(data: bytes) -> Tuple[bytes, bytes, str, int]: ...
def unpack_encrypted_packet(data: bytes) -> Tuple[bytes, bytes, bytes, str, int]: ...
