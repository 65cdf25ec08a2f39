"""What every function shares: the module's surface, argument binding and
conversion, and results that do not depend on the pool size."""

import numpy as np
import pytest

import mirelon_core_py as m
from conftest import u8

# Signatures are compared with the stubs by stubtest; the order of __all__ is the table's.
def test_all_lists_the_functions_in_table_order():
    assert m.__all__ == [
        "involute_packet", "cycle_packet", "get_chunk_size", "get_chunk_size_min", "cond_involute_packet",
        "gen_key", "prep_condition", "cond_hash_branch", "map_data", "inv_data", "package_blob",
        "unpack_setup_packet", "unpack_encrypted_packet"]
    assert {(f.__doc__, f.__module__) for f in map(m.__dict__.get, m.__all__)} == {(None, m.__name__)}


HIDE_NUMPY = """
import sys
class NoNumpy:
    def find_spec(self, name, path=None, target=None):
        if name.split(".")[0] == "numpy":
            raise ImportError("numpy is hidden")
sys.meta_path.insert(0, NoNumpy())
import mirelon_core_py
try:
    mirelon_core_py.get_chunk_size(object())
except BaseException as e:
    assert type(e).__name__ == "PanicException" and "numpy is hidden" in str(e), e
    assert str(e).startswith("Failed to access NumPy array API capsule: "), e
    print("ok")
"""

SUBINTERPRETER = """
import importlib, sys
import mirelon_core_py as first
del sys.modules["mirelon_core_py"]
assert importlib.import_module("mirelon_core_py") is first and not hasattr(first, "PanicException")
try:
    import _interpreters as interpreters
except ImportError:
    import _xxsubinterpreters as interpreters
interpreters.run_string(interpreters.create(), (
    "try:\\n    import mirelon_core_py\\n"
    "except ImportError as e:\\n    assert 'sub-interpreters' in str(e), str(e)\\n"
    "else:\\n    raise AssertionError('imported')\\n"))
print("ok")
"""


@pytest.mark.parametrize("code", [HIDE_NUMPY, SUBINTERPRETER], ids=["no-numpy", "reimport-and-subinterpreter"])
def test_module_in_a_fresh_interpreter(code, run_python):
    result = run_python(code)
    if "No module named '_xxsubinterpreters'" in result.stderr:
        pytest.skip("this interpreter cannot create sub-interpreters")
    assert result.stdout.strip() == "ok", result.stderr


# --- binding, conversion of every argument, then contiguity of the arrays ----------


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


CAUSED = TypeError("index refused")
CAUSED.__cause__ = KeyError("inner")
Refusal = type("Refusal", (TypeError,), {})
STRIDED = np.arange(16, dtype=np.uint8)[::2]
KEY = u8(range(256))
NOT_ARRAY = "'{}' object cannot be converted to 'PyArray<T, D>'"
NOT_CONTIGUOUS = "The given array is not contiguous"
NOT_INDEX = "'{}' object cannot be interpreted as an integer"
SEED_LENGTH = "master_seed must be exactly 32 bytes long"


@pytest.mark.parametrize(
    "call, exc, text",
    [
        (lambda: m.gen_key("a", "b", u8(), 1), TypeError, "gen_key() takes 3 positional arguments but 4 were given"),
        (lambda: m.get_chunk_size_min(u8(), min_size=8, packet=u8()), TypeError,
         "get_chunk_size_min() got multiple values for argument 'packet'"),
        (lambda: m.get_chunk_size(b"not an array", size=1), TypeError,
         "get_chunk_size() got an unexpected keyword argument 'size'"),
        (lambda: m.cond_hash_branch(1, test_value=0.0), TypeError,
         "cond_hash_branch() missing 2 required positional arguments: 'high_bound' and 'salt'"),
        (lambda: m.cycle_packet(), TypeError, "cycle_packet() missing 6 required positional arguments: 'packet', "
         "'old_salt', 'new_salt', 'old_key', 'new_key', and 'chunk_size'"),
        (lambda: m.get_chunk_size(b"abc"), TypeError, "argument 'packet': " + NOT_ARRAY.format("bytes")),
        (lambda: m.get_chunk_size(np.zeros((2, 2), np.uint8)), TypeError, "argument 'packet': " + NOT_ARRAY.format("ndarray")),
        (lambda: m.get_chunk_size(np.uint8(3)), TypeError, "argument 'packet': " + NOT_ARRAY.format("uint8")),
        (lambda: m.get_chunk_size(type("Inner", (), {"__qualname__": "Outer.Inner"})()), TypeError,
         "argument 'packet': " + NOT_ARRAY.format("Outer.Inner")),
        (lambda: m.get_chunk_size(np.zeros((4, 4), np.uint8)[:, 1]), TypeError, NOT_CONTIGUOUS),
        (lambda: m.get_chunk_size_min(KEY, -1), OverflowError, None),
        (lambda: m.get_chunk_size_min(KEY, 4.0), TypeError, "argument 'min_size': " + NOT_INDEX.format("float")),
        # A plain TypeError gains the argument's name and keeps its cause; a subclass passes unchanged.
        (lambda: m.get_chunk_size_min(KEY, Index(CAUSED)), TypeError, "argument 'min_size': index refused"),
        (lambda: m.get_chunk_size_min(KEY, Index(Refusal("plain"))), Refusal, "plain"),
        (lambda: m.prep_condition("1", 1.0, u8()), TypeError, "argument 'low_bound': must be real number, not str"),
        (lambda: m.prep_condition(10**400, 2.0, u8()), OverflowError, "int too large to convert to float"),
        (lambda: m.cond_hash_branch(0, 0, "x", STRIDED), TypeError, "argument 'test_value': must be real number, not str"),
        (lambda: m.involute_packet(STRIDED, u8(), 4.0), TypeError, "argument 'chunk_size': " + NOT_INDEX.format("float")),
        (lambda: m.cond_involute_packet(u8(b"abc"), STRIDED, 2, 0, 0, 0.0), TypeError, NOT_CONTIGUOUS),
        (lambda: m.cycle_packet(STRIDED, u8(), u8(), u8(), b"", 0), TypeError, "argument 'new_key': " + NOT_ARRAY.format("bytes")),
        (lambda: m.map_data(STRIDED, KEY, 0, "ab"), TypeError, "argument 'data_sequences': Can't extract `str` to `Vec`"),
        (lambda: m.map_data(KEY, KEY, 0, 5), TypeError, "argument 'data_sequences': 'int' object cannot be converted to 'Sequence'"),
        (lambda: m.map_data(KEY, KEY, 0, [KEY, b"xy"]), TypeError, "argument 'data_sequences': " + NOT_ARRAY.format("bytes")),
        (lambda: m.map_data(KEY, STRIDED, 0, [STRIDED]), TypeError, NOT_CONTIGUOUS),  # keys before elements
        (lambda: m.inv_data(STRIDED, [STRIDED], [STRIDED]), TypeError, NOT_CONTIGUOUS),
        (lambda: m.gen_key(1, 2, b"x"), TypeError, "argument 'party_id': 'int' object cannot be converted to 'PyString'"),
        (lambda: m.gen_key("a", 2, STRIDED), TypeError, "argument 'purpose': 'int' object cannot be converted to 'PyString'"),
        (lambda: m.gen_key("a", "b", bytes(32)), TypeError, "argument 'master_seed': " + NOT_ARRAY.format("bytes")),
        (lambda: m.gen_key("a", "\ud800", STRIDED), UnicodeEncodeError,
         "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed"),
        (lambda: m.gen_key("a", "b", u8(bytes(31))), ValueError, SEED_LENGTH),
        (lambda: m.gen_key("a", "b", np.arange(64, dtype=np.uint8)[::2]), ValueError,
         "Seed array not contiguous: " + NOT_CONTIGUOUS),
        (lambda: m.unpack_setup_packet(bytearray(8)), TypeError,
         "argument 'data': 'bytearray' object cannot be converted to 'PyBytes'"),
        (lambda: m.unpack_encrypted_packet(KEY), TypeError, "argument 'data': 'ndarray' object cannot be converted to 'PyBytes'"),
    ],
)
def test_argument_errors(call, exc, text):
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc
    assert str(info.value) == text if text else not str(info.value).startswith("argument")
    if text and text.endswith("index refused"):
        assert info.value.__cause__ is CAUSED.__cause__


@pytest.mark.parametrize("value, expected", [(True, 1), (np.int32(9), 16), (Index(6), 8), (2**64 - 1, 256)])
def test_unsigned_integers_accepted(value, expected):
    # 256 distinct bytes: the smallest divisor of 256 at least the minimum.
    assert m.get_chunk_size_min(KEY, value) == expected


def test_a_claimed_length_does_not_decide_memory():
    class ClaimsHugeLength(list):
        def __len__(self):
            return 2**62

    key = np.arange(256, dtype=np.uint8)
    seqs = [u8(b"abc"), u8(b"xyz")]
    assert m.map_data(key, key, 0, ClaimsHugeLength(seqs)) == m.map_data(key, key, 0, seqs)
    assert m.package_blob(ClaimsHugeLength([65, 66])) == m.package_blob(b"AB")


# --- pool size ----------------------------------------------------------------------

# Inputs large enough to split over the pool, successes and failures of every
# function that uses it; prints a digest of everything.
WORKER_SCRIPT = """
import hashlib, numpy as np, mirelon_core_py as m
rng = np.random.default_rng(11)
packet = rng.integers(0, 256, 1 << 20, dtype=np.uint8)
salt = np.frombuffer(b"0123456789abcdef", dtype=np.uint8)
k1, k2, pub = (rng.permutation(256).astype(np.uint8) for _ in range(3))
seqs = [rng.integers(0, 256, 50000, dtype=np.uint8) for _ in range(5)]
lo, hi = m.prep_condition(-2.0, 2.0, salt)
def run(f, *args):
    try:
        return f(*args)
    except BaseException as e:
        return f"{type(e).__name__}: {e}".encode()
outs = [run(m.involute_packet, packet[: len(packet) // c * c], salt, c) for c in (16, 200, 4096)]
outs.append(run(m.cond_involute_packet, packet, salt, 16, lo, hi, 3.0))
outs.append(run(m.cycle_packet, packet, salt, salt[:5], k1, k2, 16))
outs.append(run(m.involute_packet, np.tile(packet[:16], 4096), salt, 16))
mapped = [run(m.map_data, pub, k, j, seqs) for j, k in enumerate([k1, k2, pub, k1, k2])]
outs += mapped + run(m.inv_data, pub, [k1, k2, pub, k1, k2], [np.frombuffer(s, np.uint8) for s in mapped])
outs.append(run(m.map_data, pub[:200], k1, 3, seqs))
# Results of 4 MiB and more are faulted in by the workers that write them,
# a step at a time; these end mid-step. The involution undoes itself and
# inv_data undoes map_data, so both are checked against their inputs too.
big = [rng.integers(0, 256, (4 << 20) + 64 * 3, dtype=np.uint8) for _ in range(3)]
outs.append(m.involute_packet(big[0], salt, 64))
assert m.involute_packet(np.frombuffer(outs[-1], np.uint8), salt, 64) == big[0].tobytes()
big_mapped = [m.map_data(pub, k, j, big) for j, k in enumerate([k1, k2, pub])]
outs += big_mapped + m.inv_data(pub, [k1, k2, pub], [np.frombuffer(s, np.uint8) for s in big_mapped])
assert outs[-3:] == [b.tobytes() for b in big]
outs.append(str(m.get_chunk_size(np.tile(packet[:4096], 64))).encode())
print(hashlib.sha256(b"|".join(outs)).hexdigest())
"""


def test_results_do_not_depend_on_the_pool_size(run_python):
    digests = set()
    for threads in ("1", "2"):
        result = run_python(WORKER_SCRIPT, env={"RAYON_NUM_THREADS": threads})
        assert result.returncode == 0, result.stderr
        digests.add(result.stdout.strip())
    assert len(digests) == 1
