"""Helpers and inputs the tests share. The child interpreters of
test_process.py import this module too, with this directory on their path."""

import hashlib
import os
import re
import struct
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import mirelon_core_py as m

HERE = os.path.dirname(os.path.abspath(__file__))
# AddressSanitizer is preloaded into the interpreter that tests the
# instrumented module (scripts/test-steps/21-sanitizers-python.sh).
SANITIZED = "asan" in os.environ.get("LD_PRELOAD", "")
# The one NaN whose key lies past the end of the float32 order domain: this
# double rounds to the float32 0x7FFFFFFF.
NAN_OUTSIDE = struct.unpack(">d", bytes.fromhex("7FFFFFFFE0000000"))[0]
UNWRAP_NONE = "called `Option::unwrap()` on a `None` value"


def u8(data=b""):
    """A contiguous, read-only uint8 array over `data`."""
    return np.frombuffer(bytes(data), dtype=np.uint8)


def raises_exactly(exc, text):
    """pytest.raises for exactly `exc` with exactly `text`."""
    return pytest.raises(exc, match="^" + re.escape(text) + "$")


def outcome(call, *args):
    """The call's result, the text of its ValueError, or ("panic", text)."""
    try:
        return call(*args)
    except ValueError as e:
        return str(e)
    except BaseException as e:  # noqa: BLE001 - the panic derives from BaseException
        assert f"{type(e).__module__}.{type(e).__name__}" == "pyo3_runtime.PanicException", repr(e)
        assert not isinstance(e, Exception)  # `except Exception` must not catch a panic
        return ("panic", *e.args)


def kind(call):
    """How a call ends: 'ok', 'panic' or the exception's type name."""
    try:
        call()
    except BaseException as error:  # noqa: BLE001 - the panic derives from BaseException
        if type(error).__module__ == "pyo3_runtime":
            return "panic"
        return type(error).__name__
    return "ok"


# The conversion rule of every parameter, in order; package_blob takes any
# number of blob fields.
RULES = {name: tuple(rules.split()) for name, rules in {
    "involute_packet": "array array uint", "cycle_packet": "array array array array array uint",
    "get_chunk_size": "array", "get_chunk_size_min": "array uint",
    "cond_involute_packet": "array array uint uint uint float32", "gen_key": "text text seed",
    "prep_condition": "float32 float32 array", "cond_hash_branch": "uint uint float32 array",
    "map_data": "array array uint array_list", "inv_data": "array array_list array_list",
    "package_blob": "field field", "unpack_setup_packet": "bytes", "unpack_encrypted_packet": "bytes",
}.items()}


def distinct_chunks(rng, chunks):
    """A packet of `chunks` distinct 4-byte chunks, in random order."""
    values = rng.choice(1 << 32, size=chunks, replace=False).astype("<u4")
    return values.view(np.uint8).copy()


def valid_calls(seed=0, size=64):
    """{name: args}: one valid call per function, inputs writable; `size`
    scales packets and sequences so that the larger calls use the pool."""
    rng = np.random.default_rng(seed)
    packet = distinct_chunks(rng, size)
    salt, salt2 = (rng.integers(0, 256, 16, dtype=np.uint8) for _ in range(2))
    key1, key2, key3, pub = (rng.permutation(256).astype(np.uint8) for _ in range(4))
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
    return sorted(result) == list(range(256)) if name == "gen_key" else result


def results(calls):
    return {name: comparable(name, call(name, args)) for name, args in calls.items()}


def checksum(value):
    """A digest of every array reachable from an argument, with its flags."""
    if isinstance(value, (list, tuple, dict)):
        items = value.values() if isinstance(value, dict) else value
        return hashlib.sha256("".join(map(checksum, items)).encode()).hexdigest()
    if isinstance(value, np.ndarray):
        flags = repr((value.dtype.str, value.shape, value.strides, value.flags.writeable)).encode()
        return hashlib.sha256(flags + np.ascontiguousarray(value).tobytes()).hexdigest()
    return repr(value)


@pytest.fixture
def run_python():
    """Runs a snippet in a fresh interpreter; returns the CompletedProcess."""

    def run(code, env=None, timeout=120):
        return subprocess.run(
            [sys.executable, "-c", textwrap.dedent(code)],
            capture_output=True,
            text=True,
            env={**os.environ, **(env or {})},
            timeout=timeout,
        )

    return run
