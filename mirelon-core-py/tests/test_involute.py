"""involute_packet, cond_involute_packet and cycle_packet against a pure-Python
model of the crumb/order/perm computation; round trips; errors and their order."""

import hashlib

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import mirelon_core_py as m
from conftest import outcome, u8
from test_range_condition import f32_bits, model_cond_hash_branch, model_prep_condition

DUPLICATE = "Duplicate crumbs detected after operations, cannot create a unique pattern"


def mismatch(n, c):
    return f"Packet length ({n}) is not a multiple of chunk size ({c})."


def model_cond_involute(packet, salt, c, low, high, test_value):
    if c and len(packet) % c:
        return "Involute error: " + mismatch(len(packet), c)
    if c == 0 or not packet:
        return packet
    branch = model_cond_hash_branch(low, high, test_value, salt)
    seed = hashlib.sha256(bytes(sorted(packet + branch.to_bytes(8, "big")))).digest()
    chunks = [packet[i : i + c] for i in range(0, len(packet), c)]
    # Crumbs compare as 32-byte big-endian numbers.
    mask = int.from_bytes(seed, "big")
    crumbs = [int.from_bytes(hashlib.sha256(ch + salt + seed).digest(), "big") ^ mask for ch in chunks]
    if len(set(crumbs)) != len(crumbs):
        return "Involute error: " + DUPLICATE
    order = sorted(range(len(chunks)), key=lambda i: crumbs[i])
    return b"".join(chunks[order[order[j]]] for j in range(len(chunks)))


def model_involute(packet, salt, c):
    return model_cond_involute(packet, salt, c, *model_prep_condition(-1.0, 1.0, salt), 0.0)


def involute(packet, salt, c):
    return outcome(m.involute_packet, u8(packet), u8(salt), c)


@st.composite
def packets(draw, max_chunks=40):
    """A chunk size and a packet of chunks that are distinct, or (rarely) not."""
    c = draw(st.integers(1, 24))
    k = draw(st.integers(0, min(max_chunks, 256**c)))
    chunks = draw(st.lists(st.binary(min_size=c, max_size=c), min_size=k, max_size=k, unique=True))
    if chunks and draw(st.integers(0, 9)) == 0:
        chunks.append(chunks[0])
    return b"".join(chunks), c


@settings(max_examples=80, deadline=None)
@given(packets(), st.binary(max_size=100), st.integers(0, 2**64 - 1), st.integers(0, 2**64 - 1),
       st.floats(width=32).filter(lambda v: f32_bits(v) != 0x7FFFFFFF))
def test_involutions_match_the_model_and_restore(packet_and_c, salt, low, high, test_value):
    packet, c = packet_and_c
    got = outcome(m.cond_involute_packet, u8(packet), u8(salt), c, low, high, test_value)
    assert got == model_cond_involute(packet, salt, c, low, high, test_value)
    once = involute(packet, salt, c)
    assert once == model_involute(packet, salt, c)
    if isinstance(once, bytes):
        assert involute(once, salt, c) == packet


# Packets of many chunks, where the histogram, crumbs, sort and copy split over
# the pool; chunk sizes below, at and above one hash block, a whole page, and
# chunks larger than what a worker faults in at a time. Cycling moves its
# chunks in place, in runs from many starts.
@pytest.mark.parametrize("c", [8, 64, 100, 200, 4096, (1 << 20) + 17])
def test_large_packets_match_the_model_and_restore(c):
    rng = np.random.default_rng(c)
    size = 1 << 20 if c < 100 else 3 << 20 if c < 1 << 20 else 5 << 20
    packet, salt = rng.bytes(size // c * c), rng.bytes(16)
    once = involute(packet, salt, c)
    assert once == model_involute(packet, salt, c)
    assert involute(once, salt, c) == packet
    k1, k2 = perm_key(c), perm_key(c + 1)
    moved = cycle(packet, salt, salt[::-1], k1, k2, c)
    assert moved == model_involute(model_involute(packet, salt, c).translate(substitution(k1, k2)), salt[::-1], c)
    assert cycle(moved, salt[::-1], salt, k2, k1, c) == packet


def test_one_repeat_among_many_chunks_is_duplicate_crumbs():
    packet = bytearray(np.random.default_rng(2).bytes(16 * 100_000))
    packet[16 * 99_999 :] = packet[16 * 33_333 : 16 * 33_334]
    for p in (packet, b"\x5a" * len(packet)):
        assert involute(p, b"", 16) == "Involute error: " + DUPLICATE


# --- Key cycling ------------------------------------------------------------------


def perm_key(seed):
    return np.random.default_rng(seed).permutation(256).astype(np.uint8).tobytes()


def substitution(k1, k2):
    return bytes(k2[k1.index(b)] for b in range(256))


def cycle(packet, s1, s2, k1, k2, c):
    return outcome(m.cycle_packet, u8(packet), u8(s1), u8(s2), u8(k1), u8(k2), c)


@settings(max_examples=40, deadline=None)
@given(packets(), st.binary(max_size=30), st.binary(max_size=30), st.integers(0, 99))
def test_cycling_matches_the_model_and_cycles_back(packet_and_c, s1, s2, seed):
    packet, c = packet_and_c
    k1, k2 = perm_key(seed), perm_key(seed + 1000)
    moved = cycle(packet, s1, s2, k1, k2, c)
    undone = model_involute(packet, s1, c)  # undo, substitute, redo
    if isinstance(undone, bytes):
        undone = model_involute(undone.translate(substitution(k1, k2)), s2, c)
    assert moved == (undone.replace("Involute", "Cycle") if isinstance(undone, str) else undone)
    if isinstance(moved, bytes):
        assert cycle(moved, s2, s1, k2, k1, c) == packet
