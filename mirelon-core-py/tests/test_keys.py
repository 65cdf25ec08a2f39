"""gen_key: argument checks, key shape, and a pure-Python model of the keyed
permutation that also writes the known-answer files the C++ tests read.

Run this file directly with --write-vectors to regenerate
mirelon-core/tests/vectors/seeded_permutation.txt and key_derivation.txt.
"""

import hashlib
import hmac
import pathlib
import re
import struct
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

if __name__ != "__main__":  # writing the vectors needs no build of the module
    import mirelon_core_py

VECTORS = pathlib.Path(__file__).resolve().parents[2] / "mirelon-core" / "tests" / "vectors"
PERMUTATION_VECTORS = VECTORS / "seeded_permutation.txt"
DERIVATION_VECTORS = VECTORS / "key_derivation.txt"

MASK32 = 0xFFFFFFFF


# --- Model: ChaCha20 block, word stream, bounded draw, packed shuffle -------


def _rotl(v, n):
    return ((v << n) | (v >> (32 - n))) & MASK32


def _quarter(s, a, b, c, d):
    s[a] = (s[a] + s[b]) & MASK32
    s[d] = _rotl(s[d] ^ s[a], 16)
    s[c] = (s[c] + s[d]) & MASK32
    s[b] = _rotl(s[b] ^ s[c], 12)
    s[a] = (s[a] + s[b]) & MASK32
    s[d] = _rotl(s[d] ^ s[a], 8)
    s[c] = (s[c] + s[d]) & MASK32
    s[b] = _rotl(s[b] ^ s[c], 7)


def chacha20_block(key, counter):
    """The 16 output words of one block: 64-bit counter, zero stream number."""
    state = [0x61707865, 0x3320646E, 0x79622D32, 0x6B206574]
    state += list(struct.unpack("<8I", key))
    state += [counter & MASK32, counter >> 32, 0, 0]
    x = list(state)
    for _ in range(10):
        _quarter(x, 0, 4, 8, 12)
        _quarter(x, 1, 5, 9, 13)
        _quarter(x, 2, 6, 10, 14)
        _quarter(x, 3, 7, 11, 15)
        _quarter(x, 0, 5, 10, 15)
        _quarter(x, 1, 6, 11, 12)
        _quarter(x, 2, 7, 8, 13)
        _quarter(x, 3, 4, 9, 14)
    return [(x[i] + state[i]) & MASK32 for i in range(16)]


def keystream(key, blocks, counter=0):
    return b"".join(struct.pack("<16I", *chacha20_block(key, counter + i)) for i in range(blocks))


class WordStream:
    def __init__(self, key):
        self.key = key
        self.words_read = 0

    def next_word(self):
        word = chacha20_block(self.key, self.words_read // 16)[self.words_read % 16]
        self.words_read += 1
        return word


def draw_below(stream, bound):
    product = stream.next_word() * bound
    hi, lo = product >> 32, product & MASK32
    if lo <= (1 << 32) - bound:
        return hi
    hi2 = (stream.next_word() * bound) >> 32
    return hi + 1 if lo + hi2 >= (1 << 32) else hi


def run_bound(m):
    product, current = m, m + 1
    while product * current <= MASK32:
        product *= current
        current += 1
    return product, current - m


def seeded_permutation(seed):
    """Returns (table, words read from the stream, number of packed draws)."""
    stream = WordStream(seed)
    table = list(range(256))
    n, chunk, remaining, draws = 0, 0, 1, 0
    for i in range(256):
        nxt = n + 1
        if remaining > 0:
            left = remaining - 1
        else:
            bound, count = run_bound(nxt)
            chunk = draw_below(stream, bound)
            draws += 1
            left = count - 1
        if left == 0:
            j = chunk
        else:
            j, chunk = chunk % nxt, chunk // nxt
        remaining, n = left, nxt
        table[i], table[j] = table[j], table[i]
    return bytes(table), stream.words_read, draws


def hkdf_sha256(ikm, info, length=32):
    prk = hmac.new(bytes(32), ikm, hashlib.sha256).digest()
    out, block = b"", b""
    for i in range((length + 31) // 32):
        block = hmac.new(prk, block + info + bytes([i + 1]), hashlib.sha256).digest()
        out += block
    return out[:length]


def derive_key(party_id, purpose, master_seed, entropy):
    label = b"mirelon:" + party_id + b":" + purpose + entropy
    derived = hkdf_sha256(master_seed, label)
    return derived, seeded_permutation(derived)[0]


# --- Known-answer files ----------------------------------------------------


def _sha(text):
    return hashlib.sha256(text.encode()).digest()


PERMUTATION_SEEDS = [
    bytes(32),
    bytes(31) + b"\x01",
    b"\xff" * 32,
    bytes(range(32)),
    *(_sha(f"permutation seed {i}") for i in range(12)),
]

DERIVATION_CASES = [
    ("", "", bytes(32), bytes(32)),
    ("alice", "pub", _sha("master 1"), _sha("entropy 1")),
    ("a:b", "c", _sha("master 2"), _sha("entropy 2")),
    ("a", "b:c", _sha("master 2"), _sha("entropy 2")),
    ("partié", "clé privée", _sha("master 3"), _sha("entropy 3")),
    ("p" * 300, "q" * 200, _sha("master 4"), _sha("entropy 4")),
    ("p" * 200, "q" * 14, _sha("master 5"), _sha("entropy 5")),  # 255-byte label
    ("p" * 200, "q" * 15, _sha("master 5"), _sha("entropy 5")),  # 256-byte label
    ("bob", "priv", b"\xff" * 32, bytes(range(32))),
]


def permutation_lines():
    lines = ["# seed  words_read  packed_draws  permutation (hex, from a pure-Python model)"]
    for seed in PERMUTATION_SEEDS:
        table, words, draws = seeded_permutation(seed)
        lines.append(f"{seed.hex()} {words} {draws} {table.hex()}")
    return "\n".join(lines) + "\n"


def derivation_lines():
    lines = ["# party_id purpose master_seed entropy derived_seed key (hex; '-' is empty)"]
    for party, purpose, master, entropy in DERIVATION_CASES:
        p, q = party.encode(), purpose.encode()
        derived, key = derive_key(p, q, master, entropy)
        fields = [p.hex() or "-", q.hex() or "-", master.hex(), entropy.hex(), derived.hex(), key.hex()]
        lines.append(" ".join(fields))
    return "\n".join(lines) + "\n"


# --- Tests of the model itself -----------------------------------------------


def test_model_block_matches_the_published_zero_key_vector():
    expected = bytes.fromhex(
        "76b8e0ada0f13d90405d6ae55386bd28bdd219b8a08ded1aa836efcc8b770dc7"
        "da41597c5157488d7724e03fb8d84a376a43b8f41518a11cc387b669b2ee6586"
    )
    assert keystream(bytes(32), 1) == expected


def test_model_hkdf_matches_rfc5869_case_3():
    okm = hkdf_sha256(bytes([0x0B] * 22), b"", 42)
    assert okm.hex() == (
        "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d"
        "9d201395faa4b61a96c8"
    )


def test_model_run_bounds_cover_the_table_in_58_draws():
    assert run_bound(2) == (479001600, 11)
    assert run_bound(256) == (256 * 257 * 258, 3)
    for seed in PERMUTATION_SEEDS[:3]:
        assert seeded_permutation(seed)[2] == 58


def test_vector_files_are_current():
    assert PERMUTATION_VECTORS.read_text() == permutation_lines()
    assert DERIVATION_VECTORS.read_text() == derivation_lines()


# --- gen_key ----------------------------------------------------------------



def gen_key(*args, **kwargs):
    return mirelon_core_py.gen_key(*args, **kwargs)


def seed_array(n=32):
    return np.arange(n, dtype=np.uint8)


def assert_is_permutation(key):
    assert isinstance(key, bytes)
    assert sorted(key) == list(range(256))


@pytest.mark.parametrize(
    "party_id, purpose",
    [("alice", "pub"), ("", ""), ("partié", "clé"), ("a:b", "c"), ("x" * 5000, "y")],
)
def test_gen_key_returns_a_permutation_of_the_byte_values(party_id, purpose):
    assert_is_permutation(gen_key(party_id, purpose, seed_array()))


@settings(max_examples=50)
@given(st.text(), st.text(), st.binary(min_size=32, max_size=32))
def test_gen_key_gives_a_permutation_for_any_labels_and_seed(party_id, purpose, seed):
    # st.text() yields no lone surrogates, so every label encodes.
    assert_is_permutation(gen_key(party_id, purpose, np.frombuffer(seed, dtype=np.uint8)))


def test_gen_key_accepts_keywords_and_str_subclasses():
    class Label(str):
        pass

    key = gen_key(party_id=Label("a"), purpose="b", master_seed=seed_array())
    assert_is_permutation(key)


def test_gen_key_draws_fresh_entropy_on_every_call():
    keys = {gen_key("alice", "pub", seed_array()) for _ in range(8)}
    assert len(keys) == 8


@pytest.mark.parametrize(
    "args, message",
    [
        ((1, "b", seed_array()), "argument 'party_id': 'int' object cannot be converted to 'PyString'"),
        ((1, 2, b"x"), "argument 'party_id': 'int' object cannot be converted to 'PyString'"),
        ((b"abc", "b", seed_array()), "argument 'party_id': 'bytes' object cannot be converted to 'PyString'"),
        (("a", None, seed_array()), "argument 'purpose': 'NoneType' object cannot be converted to 'PyString'"),
        (("a", 2, seed_array(3)), "argument 'purpose': 'int' object cannot be converted to 'PyString'"),
        (("a", "b", bytes(32)), "argument 'master_seed': 'bytes' object cannot be converted to 'PyArray<T, D>'"),
    ],
)
def test_gen_key_type_errors_come_in_argument_order(args, message):
    with pytest.raises(TypeError, match=f"^{re.escape(message)}$"):
        gen_key(*args)


@pytest.mark.parametrize(
    "args",
    [("\ud800", 2, seed_array()), ("a", "\udfff", seed_array(5)), ("a", "\ud800", seed_array()[::2])],
)
def test_gen_key_lone_surrogate_raises_unicode_encode_error_before_seed_checks(args):
    with pytest.raises(UnicodeEncodeError) as info:
        gen_key(*args)
    assert not str(info.value).startswith("argument")


@pytest.mark.parametrize("length", [0, 1, 31, 33, 64])
def test_gen_key_rejects_a_seed_that_is_not_32_bytes(length):
    with pytest.raises(ValueError, match="^master_seed must be exactly 32 bytes long$"):
        gen_key("a", "b", seed_array(length))


@pytest.mark.parametrize(
    "seed",
    [seed_array(64)[::2], seed_array(10)[::2], seed_array(32)[::-1], seed_array(128)[::4]],
    ids=["32-step-2", "5-step-2", "reversed", "32-step-4"],
)
def test_gen_key_rejects_a_non_contiguous_seed_whatever_its_length(seed):
    message = "Seed array not contiguous: The given array is not contiguous"
    with pytest.raises(ValueError, match=f"^{re.escape(message)}$"):
        gen_key("a", "b", seed)


def test_gen_key_does_not_modify_the_seed():
    seed = seed_array()
    gen_key("a", "b", seed)
    assert seed.tolist() == list(range(32))


if __name__ == "__main__":
    if sys.argv[1:] != ["--write-vectors"]:
        sys.exit(f"usage: {sys.argv[0]} --write-vectors")
    PERMUTATION_VECTORS.write_text(permutation_lines())
    DERIVATION_VECTORS.write_text(derivation_lines())
