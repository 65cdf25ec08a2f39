"""Writes mirelon-core/tests/vectors/test_vectors.json, the known answers that
the GoogleTest suite, the Python suite and any other implementation check
themselves against (docs/test-vectors.md describes the format).

Every expected value comes from the pure-Python models of the Python tests,
never from the module; run it with the project's virtual environment:

    .venv/bin/python scripts/write_test_vectors.py          # rewrite the file
    .venv/bin/python scripts/write_test_vectors.py --check  # exit 1 if stale
"""

import hashlib
import json
import pathlib
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
VECTORS = ROOT / "mirelon-core" / "tests" / "vectors" / "test_vectors.json"
sys.path.insert(0, str(ROOT / "mirelon-core-py" / "tests"))

import types  # noqa: E402

import numpy as np  # noqa: E402


class NotTheModule(types.ModuleType):
    """Stands in for the module while the tests' models are imported, so that
    no expected value can come from it."""

    def __getattr__(self, name):
        raise RuntimeError(f"the vectors come from the models, not from mirelon_core_py.{name}")


sys.modules.setdefault("mirelon_core_py", NotTheModule("mirelon_core_py"))

from conftest import NAN_OUTSIDE, UNWRAP_NONE  # noqa: E402
from test_blob import ENCRYPTED_NAMES, SETUP_NAMES, frame, le, predicted  # noqa: E402
from test_chunk_geometry import model_chunk_size  # noqa: E402
from test_involute import model_cond_involute, model_involute  # noqa: E402
from test_keys import derive_key  # noqa: E402
from test_mapping import model_inv_data  # noqa: E402
from test_range_condition import (  # noqa: E402
    f32_bits,
    model_cond_hash_branch,
    model_prep_condition,
)

DIVISOR_ZERO = "attempt to calculate the remainder with a divisor of zero"
INVOLUTE_PREFIX = "Involute error: "


def sha(text, size=32):
    """Deterministic filler bytes: SHA-256 in counter mode over `text`."""
    out = b"".join(hashlib.sha256(f"{text}/{i}".encode()).digest() for i in range(-(-size // 32)))
    return out[:size]


def permutation(text):
    return bytes(np.random.default_rng(list(sha(text, 8))).permutation(256).astype(np.uint8))


def distinct(text, chunks, c):
    """`chunks` distinct chunks of c bytes: a counter in the first bytes."""
    filler = sha(text, chunks * c)
    width = min(c, 4)
    return b"".join(i.to_bytes(4, "big")[4 - width :] + filler[i * c + width : (i + 1) * c]
                    for i in range(chunks))


def outcome_of(model, *args):
    """{"expected": hex} or {"error": text} for a returned error (prefix
    removed) or {"failure": text} for an internal failure."""
    try:
        result = model(*args)
    except AssertionError:  # the order map's domain excludes one NaN
        return {"failure": UNWRAP_NONE}
    if isinstance(result, tuple):
        return {"failure": result[1]}
    if isinstance(result, str):
        return {"error": result.split(": ", 1)[1]}
    return {"expected": result.hex()}


# --- chunk geometry, range conditions, involution, cycling -------------------


def chunk_sizes():
    packets = [b"", b"a", b"XXXXXXXXYYYY", b"ab" * 4 + b"cd" * 4, b"\x00" * 16, distinct("cs", 48, 4),
               distinct("cs", 30, 3) + b"\x00\x00\x01", sha("odd", 105), bytes(range(16)) * 64]
    cases = [{"packet": p.hex(), "min_size": k, "expected": model_chunk_size(p, k)}
             for p in packets for k in (1, 4, 7)]
    cases.append({"packet": "", "min_size": 0, "expected": 0})
    cases.append({"packet": "61", "min_size": 0, "failure": DIVISOR_ZERO})
    return cases


# Ordinary values, both zeros, subnormals, the largest finite values, the
# infinities and NaNs (with either sign, quiet and signalling) inside the domain.
F32_VALUES = [-1.0, 1.0, 0.0, -0.0, 0.25, 3.0, -2.5e-38, float("inf"), float("-inf"), 1e-45, -1e-45,
              3.4028234663852886e38, -3.4028234663852886e38, 1.0000001, -1.0000001, 65504.0,
              *(struct.unpack("<f", struct.pack("<I", bits))[0] for bits in (0x7FC00000, 0xFFC00000, 0x7F800001))]


def conditions():
    prepared, branches = [], []
    for i, (low, high) in enumerate(zip(F32_VALUES, F32_VALUES[5:] + F32_VALUES[:5])):
        salt = sha(f"cond{i}", i * 7)  # up to 126 bytes: past one hash block
        prepared.append({"low_bound": f"{f32_bits(low):08x}", "high_bound": f"{f32_bits(high):08x}",
                         "salt": salt.hex(), "expected": list(model_prep_condition(low, high, salt))})
        lo, hi = prepared[-1]["expected"]
        for test_value in (F32_VALUES[i], 0.5):
            branches.append({"low_bound": lo, "high_bound": hi, "test_value": f"{f32_bits(test_value):08x}",
                             "salt": salt.hex(),
                             "expected": model_cond_hash_branch(lo, hi, test_value, salt)})
    return prepared, branches


def involutions():
    cases = []
    for c, chunks, salt_len in [(1, 200, 16), (2, 100, 0), (4, 64, 16), (5, 21, 3), (8, 40, 16), (16, 30, 16),
                                (32, 10, 33), (64, 9, 16), (100, 7, 90), (4096, 2, 16), (3, 1, 5)]:
        packet, salt = distinct(f"inv{c}", chunks, c), sha(f"salt{c}", salt_len)
        cases.append({"packet": packet.hex(), "salt": salt.hex(), "chunk_size": c,
                      **outcome_of(model_involute, packet, salt, c)})
    for packet, c in [(b"0123456789", 4), (b"abc", 2**64 - 1), (b"abcdabcd", 4), (b"\x5a" * 64, 16),
                      (b"abc", 0), (b"aaaa", 0), (b"", 4), (b"abcdefgh", 8)]:
        cases.append({"packet": packet.hex(), "salt": "", "chunk_size": c,
                      **outcome_of(model_involute, packet, b"", c)})
    return cases


def conditional_involutions():
    cases = []
    salt = sha("cond-salt", 16)
    low, high = model_prep_condition(-1.0, 1.0, salt)
    for c, test_value, bounds in [(4, 0.25, (low, high)), (4, 3.0, (low, high)), (8, 0.0, (5, 2**63)),
                                  (16, -1.0, (low, high)), (4, NAN_OUTSIDE, (0, 9)), (1, 1.0, (0, 2**64 - 1))]:
        packet = distinct(f"cond{c}", 32, c)
        cases.append({"packet": packet.hex(), "salt": salt.hex(), "chunk_size": c, "low_bound": bounds[0],
                      "high_bound": bounds[1], "test_value": f"{f32_bits(test_value):08x}",
                      **outcome_of(model_cond_involute, packet, salt, c, *bounds, test_value)})
    # Checks in order: the chunk size before the branch value, copying before both.
    for packet, c in [(b"0123456789", 4), (b"abc", 0), (b"", 4)]:
        cases.append({"packet": packet.hex(), "salt": "", "chunk_size": c, "low_bound": 0, "high_bound": 9,
                      "test_value": f"{f32_bits(NAN_OUTSIDE):08x}",
                      **outcome_of(model_cond_involute, packet, b"", c, 0, 9, NAN_OUTSIDE)})
    return cases


def key_error(old, new):
    listing = lambda key: "[" + ", ".join(str(b) for b in sorted(key)) + "]"  # noqa: E731
    return ("panic", "assertion `left == right` failed: Keys must be permutations from the same set\n"
            f"  left: {listing(old)}\n right: {listing(new)}")


def model_cycle(packet, old_salt, new_salt, old_key, new_key, c):
    if sorted(old_key) != sorted(new_key):
        return key_error(old_key, new_key)
    undone = model_involute(packet, old_salt, c)
    if isinstance(undone, str):
        return undone
    table = bytearray(256)  # later positions win; bytes missing from old_key become 0
    for position, value in enumerate(old_key):
        table[value] = new_key[position]
    return model_involute(undone.translate(bytes(table)), new_salt, c)


def cycles():
    cases = []
    specs = [(distinct("cyc4", 50, 4), 4, permutation("k1"), permutation("k2")),
             (distinct("cyc16", 20, 16), 16, permutation("k3"), permutation("k4")),
             (distinct("cyc1", 100, 1), 1, permutation("k5"), permutation("k6")),
             (b"\x01\x02\x09", 0, b"\x01\x01\x02", b"\x02\x01\x01"), (b"abc", 0, b"", b""),
             (b"abcdefgh", 4, b"", b""), (b"0123456789", 4, permutation("k1"), permutation("k1")),
             (b"0123456789", 4, b"\x01\x02\x03", b"\x03\x02"), (b"", 0, b"", b"\x00"),
             # keys of equal length but other byte counts, checked before the chunk size
             (b"0123456789", 4, b"\x03\x01\x02", b"\x02\x01\x01"),
             (b"", 0, permutation("k7"), permutation("k7")[:-1] + b"\x00")]
    for i, (packet, c, old_key, new_key) in enumerate(specs):
        old_salt, new_salt = sha(f"old{i}", 16), sha(f"new{i}", 7)
        cases.append({"packet": packet.hex(), "old_salt": old_salt.hex(), "new_salt": new_salt.hex(),
                      "old_key": old_key.hex(), "new_key": new_key.hex(), "chunk_size": c,
                      **outcome_of(model_cycle, packet, old_salt, new_salt, old_key, new_key, c)})
    return cases


# --- keys, mapping, blobs ----------------------------------------------------


DERIVATION_CASES = [
    ("", "", bytes(32), bytes(32)),
    ("alice", "pub", sha("master 1"), sha("entropy 1")),
    ("a:b", "c", sha("master 2"), sha("entropy 2")),  # colons are not escaped
    ("a", "b:c", sha("master 2"), sha("entropy 2")),
    ("partié", "clé privée", sha("master 3"), sha("entropy 3")),
    ("p" * 300, "q" * 200, sha("master 4"), sha("entropy 4")),
    ("p" * 200, "q" * 14, sha("master 5"), sha("entropy 5")),  # 255-byte label
    ("p" * 200, "q" * 15, sha("master 5"), sha("entropy 5")),  # 256-byte label
    ("bob", "priv", b"\xff" * 32, bytes(range(32))),
]


def key_derivations():
    cases = []
    for party, purpose, master, entropy in DERIVATION_CASES:
        p, q = party.encode(), purpose.encode()
        derived, key = derive_key(p, q, master, entropy)
        cases.append({"party_id": p.hex(), "purpose": q.hex(), "master_seed": master.hex(),
                      "entropy": entropy.hex(), "derived_seed": derived.hex(), "key": key.hex()})
    return cases


class LookupFailure(Exception):
    pass


def look(table, index):
    if index >= len(table):
        raise LookupFailure(f"index out of bounds: the len is {len(table)} but the index is {index}")
    return table[index]


def model_map_column(a, b, p, c):
    """One position mapped for party p; lookups in the order the mapping makes them."""
    s = [0] * (len(c) + 1)
    for k in range(len(c) - 1, -1, -1):
        s[k] = (s[k + 1] + c[k]) % 256
    x = (c[0] - look(a, s[1])) % 256
    y = (c[1] + x - s[2]) % 256
    v = d = y
    for k in range(2, p + 1):
        d = (x + c[k] - s[k + 1] - look(a, v)) % 256
        v = (v + d) % 256
    return look(b, x if p == 0 else d)


def model_map_data(a, b, p, seqs):
    return bytes(model_map_column(a, b, p, column) for column in zip(*seqs))


def mappings():
    cases = []
    for n, length in [(2, 300), (3, 200), (17, 70)]:
        pub = permutation(f"pub{n}")
        privs = [permutation(f"priv{n}/{j}") for j in range(n)]
        data = [sha(f"data{n}/{j}", length) for j in range(n)]
        mapped = [model_map_data(pub, privs[j], j, data) for j in range(n)]
        assert model_inv_data(pub, privs, mapped) == data
        cases.append({"pub_key": pub.hex(), "priv_keys": [k.hex() for k in privs],
                      "data_sequences": [s.hex() for s in data], "mapped": [s.hex() for s in mapped]})
    return cases


def mapping_failures():
    """Keys shorter than 256 bytes: the first lookup past the end, at the lowest position, fails."""
    cases = []
    for pub, priv, p, data in [(bytes(5), permutation("f1"), 0, [b"\x00\x01", b"\x05\x09"]),
                               (permutation("f2"), bytes(7), 0, [b"\x07", b"\x00"]),
                               (bytes(10), bytes(256), 1, [bytes(300), bytes(200) + b"\x64" + bytes(99)]),
                               (bytes(range(200)), permutation("f3"), 2, [sha("f4", 90)] * 3)]:
        try:
            out = {"expected": model_map_data(pub, priv, p, data).hex()}
        except LookupFailure as e:
            out = {"failure": str(e)}
        cases.append({"pub_key": pub.hex(), "priv_key": priv.hex(), "identity": p,
                      "data_sequences": [s.hex() for s in data], **out})
    return cases


def blobs():
    written = []
    for fields in [[], [b""], [b"\x01\x02\x03", b"packet", "mo\u00e9".encode(), 77],
                   [b"\x01\x02", b"\x03\x04\x05", b"p", "m\u20ac".encode(), 2**64 - 2], [0, 2**64 - 1, b"AB"]]:
        blob = frame(*[le(f) if isinstance(f, int) else f for f in fields])
        written.append({"fields": [{"integer": f} if isinstance(f, int) else {"bytes": f.hex()} for f in fields],
                        "expected": blob.hex()})
    read = []
    inputs = [bytes.fromhex(w["expected"]) for w in written[2:4]] + [
        bytes(7), bytes(8), bytes(16), le(100) + bytes(42), frame(b"", b"", b"", b""),
        frame(b"", b"", b"", bytes(9)), frame(b"", b"", b"\xff", bytes(3)),
        frame(b"", b"", b"", (9, bytes(8))), frame(b"", b"", b"A\xe2\x82", le(1)),
        frame(b"", b"", b"", b"A\xe2A", le(1)), frame(b"k", b"p", b"m", le(3), tail=b"\xff" * 9)]
    for data in inputs:
        case = {"blob": data.hex()}
        for reader, names in (("setup", SETUP_NAMES), ("encrypted", ENCRYPTED_NAMES)):
            result = predicted(data, names)
            if isinstance(result, str):
                case[reader] = {"error": result}
            else:
                keys = [name.replace(" ", "_") for name in names] + ["identity"]
                case[reader] = {k: v.hex() if isinstance(v, bytes) else v for k, v in zip(keys, result)}
        read.append(case)
    return written, read


def vectors():
    prepared, branches = conditions()
    written, read = blobs()
    return {
        "_comment": "Known answers of mirelon-core; bytes are hex, float32 values are their bit patterns "
                    "in hex. Format: docs/test-vectors.md. Written by scripts/write_test_vectors.py.",
        "get_chunk_size_min": chunk_sizes(),
        "prep_condition": prepared,
        "cond_hash_branch": branches,
        "involute_packet": involutions(),
        "cond_involute_packet": conditional_involutions(),
        "cycle_packet": cycles(),
        "derive_key": key_derivations(),
        "mapping": mappings(),
        "map_data_failures": mapping_failures(),
        "package_blob": written,
        "unpack": read,
    }


def text():
    return json.dumps(vectors(), indent=1) + "\n"


if __name__ == "__main__":
    if sys.argv[1:] == ["--check"]:
        sys.exit(0 if VECTORS.read_text() == text() else f"{VECTORS} is stale: run {sys.argv[0]}")
    if sys.argv[1:]:
        sys.exit(f"usage: {sys.argv[0]} [--check]")
    VECTORS.write_text(text())
    print(f"wrote {VECTORS} ({VECTORS.stat().st_size} bytes)")
