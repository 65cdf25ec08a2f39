"""Valid calls of every function, shared by the hardening tests.

`valid_calls(seed, size)` gives one call per function with writable inputs
built from `seed`; `size` scales the packets and sequences so that the larger
calls spread over the worker pool. The subprocesses of the other hardening
tests import it too, with this directory on their path.
"""

import hashlib

import numpy as np
import pytest

import mirelon_core_py as m

# The core failures each function documents beyond argument conversion:
# ValueError for InvoluteError, FramingError and the module's own value checks,
# "panic" for pyo3_runtime.PanicException.
CORE_FAILURES = {
    "involute_packet": {"ValueError"},
    "cycle_packet": {"ValueError", "panic"},
    "get_chunk_size": set(),
    "get_chunk_size_min": {"panic"},
    "cond_involute_packet": {"ValueError", "panic"},
    "gen_key": {"ValueError"},
    "prep_condition": {"panic"},
    "cond_hash_branch": {"panic"},
    "map_data": {"panic"},
    "inv_data": {"panic"},
    "package_blob": {"ValueError"},
    "unpack_setup_packet": {"ValueError"},
    "unpack_encrypted_packet": {"ValueError"},
}

# The conversion rule of every parameter, in order; package_blob takes any
# number of blob fields.
RULES = {
    "involute_packet": ("array", "array", "uint"),
    "cycle_packet": ("array", "array", "array", "array", "array", "uint"),
    "get_chunk_size": ("array",),
    "get_chunk_size_min": ("array", "uint"),
    "cond_involute_packet": ("array", "array", "uint", "uint", "uint", "float32"),
    "gen_key": ("text", "text", "seed"),
    "prep_condition": ("float32", "float32", "array"),
    "cond_hash_branch": ("uint", "uint", "float32", "array"),
    "map_data": ("array", "array", "uint", "array_list"),
    "inv_data": ("array", "array_list", "array_list"),
    "package_blob": ("field", "field"),
    "unpack_setup_packet": ("bytes",),
    "unpack_encrypted_packet": ("bytes",),
}


def outcome(call):
    """'ok', 'panic' or the exception's type name."""
    try:
        call()
    except BaseException as error:  # noqa: BLE001 - the panic derives from BaseException
        kind = type(error)
        if kind.__module__ == "pyo3_runtime" and kind.__name__ == "PanicException":
            return "panic"
        return kind.__name__
    return "ok"


def distinct_chunks(rng, chunks):
    """A packet of `chunks` distinct 4-byte chunks, in random order."""
    values = rng.choice(1 << 32, size=chunks, replace=False).astype("<u4")
    return values.view(np.uint8).copy()


def valid_calls(seed=0, size=64):
    """{name: args} with one valid call per function, inputs writable."""
    rng = np.random.default_rng(seed)
    packet = distinct_chunks(rng, size)
    salt = rng.integers(0, 256, 16, dtype=np.uint8)
    salt2 = rng.integers(0, 256, 16, dtype=np.uint8)
    key1 = rng.permutation(256).astype(np.uint8)
    key2 = rng.permutation(256).astype(np.uint8)
    key3 = rng.permutation(256).astype(np.uint8)
    pub = rng.permutation(256).astype(np.uint8)
    seqs = [rng.integers(0, 256, 4 * size, dtype=np.uint8) for _ in range(3)]
    mapped = [m.map_data(pub, k, j, seqs) for j, k in enumerate((key1, key2, key3))]
    low, high = m.prep_condition(-1.0, 1.0, salt)
    return {
        "involute_packet": (packet, salt, 4),
        "cycle_packet": (packet, salt, salt2, key1, key2, 4),
        "get_chunk_size": (packet,),
        "get_chunk_size_min": (packet, 2),
        "cond_involute_packet": (packet, salt, 4, low, high, 0.25),
        "gen_key": ("party", "purpose", rng.integers(0, 256, 32, dtype=np.uint8)),
        "prep_condition": (-1.5, 2.5, salt),
        "cond_hash_branch": (low, high, 0.5, salt),
        "map_data": (pub, key2, 1, seqs),
        "inv_data": (pub, [key1, key2, key3], [np.frombuffer(s, np.uint8).copy() for s in mapped]),
        "package_blob": (key1, "mode"),
        "unpack_setup_packet": (m.package_blob(pub, packet, "mode", 7),),
        "unpack_encrypted_packet": (m.package_blob(pub, key1, packet, "mode", 7),),
    }


def call(name, args):
    return getattr(m, name)(*args)


def comparable(name, result):
    """The part of a result that repeats: gen_key draws fresh entropy, so only
    the fact that its key is a permutation of the byte values repeats."""
    if name == "gen_key":
        return sorted(result) == list(range(256))
    return result


def checksum(value):
    """A digest of every array reachable from an argument, with its flags."""
    digest = hashlib.sha256()

    def add(v):
        if isinstance(v, np.ndarray):
            digest.update(repr((v.dtype.str, v.shape, v.strides, v.flags.writeable)).encode())
            digest.update(np.ascontiguousarray(v).tobytes())
        elif isinstance(v, (list, tuple)):
            for item in v:
                add(item)
        else:
            digest.update(repr(v).encode())

    add(value)
    return digest.hexdigest()


@pytest.mark.parametrize("name", sorted(RULES))
def test_the_valid_calls_succeed_and_repeat(name):
    args = valid_calls(seed=3)[name]
    first = comparable(name, call(name, args))
    assert comparable(name, call(name, args)) == first
    assert first is not False
    assert len(args) == len(RULES[name])
