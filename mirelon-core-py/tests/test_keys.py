"""A pure-Python model of the key derivation (HKDF, ChaCha20 word stream,
bounded draws, packed shuffle) whose known answers, in the shared vector file,
the C++ tests compare derive_key with, since gen_key's own keys depend on fresh
entropy (the reference page shows that they are fresh permutations)."""

import hashlib
import hmac
import struct

MASK32 = 0xFFFFFFFF


# --- Model -------------------------------------------------------------------


def chacha20_block(key, counter):
    """The 16 output words of one block: 64-bit counter, zero stream number."""
    state = [0x61707865, 0x3320646E, 0x79622D32, 0x6B206574, *struct.unpack("<8I", key)]
    state += [counter & MASK32, counter >> 32, 0, 0]
    x = list(state)
    for _ in range(10):
        for a, b, c, d in ((0, 4, 8, 12), (1, 5, 9, 13), (2, 6, 10, 14), (3, 7, 11, 15),
                           (0, 5, 10, 15), (1, 6, 11, 12), (2, 7, 8, 13), (3, 4, 9, 14)):
            for p, q, r, n in ((a, b, d, 16), (c, d, b, 12), (a, b, d, 8), (c, d, b, 7)):
                x[p] = (x[p] + x[q]) & MASK32
                x[r] ^= x[p]
                x[r] = ((x[r] << n) | (x[r] >> (32 - n))) & MASK32
    return [(x[i] + state[i]) & MASK32 for i in range(16)]


def seeded_permutation(seed):
    """Fisher-Yates over the byte values, indices packed into few bounded draws."""
    words = (w for block in range(2**64) for w in chacha20_block(seed, block))

    def draw_below(bound):
        product = next(words) * bound
        if product & MASK32 <= (1 << 32) - bound:
            return product >> 32
        return (product >> 32) + ((product & MASK32) + ((next(words) * bound) >> 32) >> 32)

    table, chunk, remaining = list(range(256)), 0, 1
    for i in range(256):
        if remaining == 0:  # a run: as many next indices as fit one 32-bit bound
            bound, current = i + 1, i + 2
            while bound * current <= MASK32:
                bound, current = bound * current, current + 1
            remaining, chunk = current - (i + 1), draw_below(bound)
        remaining -= 1
        j, chunk = (chunk, 0) if remaining == 0 else (chunk % (i + 1), chunk // (i + 1))
        table[i], table[j] = table[j], table[i]
    return bytes(table)


def hkdf_sha256(ikm, info, length=32):
    prk = hmac.new(bytes(32), ikm, hashlib.sha256).digest()
    out, block = b"", b""
    for i in range((length + 31) // 32):
        block = hmac.new(prk, block + info + bytes([i + 1]), hashlib.sha256).digest()
        out += block
    return out[:length]


def derive_key(party_id, purpose, master_seed, entropy):
    derived = hkdf_sha256(master_seed, b"mirelon:" + party_id + b":" + purpose + entropy)
    return derived, seeded_permutation(derived)


def test_model_matches_published_vectors():
    block = b"".join(struct.pack("<I", w) for w in chacha20_block(bytes(32), 0))
    assert block.hex() == (
        "76b8e0ada0f13d90405d6ae55386bd28bdd219b8a08ded1aa836efcc8b770dc7"
        "da41597c5157488d7724e03fb8d84a376a43b8f41518a11cc387b669b2ee6586"
    )
    assert hkdf_sha256(bytes([0x0B] * 22), b"", 42).hex() == (  # RFC 5869 case 3
        "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"
    )
