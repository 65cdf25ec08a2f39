"""Every function, every argument position, a list of hostile values: each call
ends in the exception type its argument rule documents, never in a crash.

Each function's matrix runs in a fresh interpreter, so that a crash fails that
function's test (naming the last case started) instead of ending the run.
"""

import json
import os

import pytest

from test_hardening_calls import CORE_FAILURES, RULES

HERE = os.path.dirname(os.path.abspath(__file__))

# What each hostile value gives under each rule. "ok" means success or one of
# the function's documented core failures (test_hardening_calls.CORE_FAILURES);
# rules not named give TypeError.
EXPECTED = {
    "none": {},
    "int64_array": {"field": "ok"},
    "float64_array": {},
    "int8_array": {"field": "ok"},
    "zero_d_array": {"uint": "ok", "float32": "ok", "field": "ok"},
    "two_d_array": {"array_list": "ok"},
    "fortran_two_d_array": {"array_list": "ok"},
    "fortran_copy": {"array": "ok", "seed": "ok", "field": "ok"},
    "read_only_copy": {"array": "ok", "seed": "ok", "field": "ok"},
    "offset_view": {"array": "ok", "seed": "ok", "field": "ok"},
    "empty_array": {"array": "ok", "seed": "ValueError", "field": "ok", "array_list": "ok"},
    "strided_view": {"seed": "ValueError", "field": "ValueError"},
    "reversed_view": {"seed": "ValueError", "field": "ValueError"},
    "list_of_strided": {"array_list": "ok"},
    "list_of_bytes": {"field": "TypeError"},
    "tuple_of_arrays": {"array_list": "ok"},
    "list_of_ints": {"field": "ok"},
    "bytearray": {"field": "ok"},
    "memoryview": {"field": "ok"},
    "huge_int": {"uint": "OverflowError", "float32": "ok"},
    "enormous_int": {"uint": "OverflowError", "float32": "OverflowError"},
    "negative_int": {"uint": "OverflowError", "float32": "ok"},
    "max_u64": {"uint": "ok", "float32": "ok", "field": "ok"},
    "true": {"uint": "ok", "float32": "ok", "field": "ok"},
    "numpy_uint64": {"uint": "ok", "float32": "ok", "field": "ok"},
    "float": {"float32": "ok"},
    "infinity": {"float32": "ok"},
    "nan": {"float32": "ok"},
    "nan_outside_domain": {"float32": "ok"},
    "negative_nan": {"float32": "ok"},
    "str_subclass": {"text": "ok", "field": "ok"},
    "lone_surrogate": {"text": "UnicodeEncodeError", "field": "UnicodeEncodeError"},
    "bytes_subclass": {"bytes": "ok", "field": "ok"},
    "index_raises": {"uint": "RuntimeError", "float32": "RuntimeError"},
    "float_raises": {"float32": "RuntimeError"},
    "iteration_raises": {"array_list": "RuntimeError"},
    "length_raises": {"array_list": "RuntimeError"},
    "generator": {},
    "dict": {},
    "object": {},
}

# Run in the child: builds the hostile values from the valid argument they
# replace and prints one JSON line of outcomes. Progress goes to stderr, so a
# crash names its case.
CHILD = r"""
import json, struct, sys
sys.path.insert(0, HERE)
import numpy as np
from test_hardening_calls import valid_calls, call, outcome

class Text(str): pass
class Blob(bytes): pass
class IndexRaises:
    def __index__(self): raise RuntimeError("index")
class FloatRaises:
    def __float__(self): raise RuntimeError("float")
class IterationRaises:
    def __init__(self, first): self.first = first
    def __len__(self): return 3
    def __getitem__(self, i): return self.first
    def __iter__(self):
        yield self.first
        raise RuntimeError("halfway")
class LengthRaises(IterationRaises):
    def __len__(self): raise RuntimeError("length")
    def __iter__(self): raise RuntimeError("iteration")

def as_array(v):
    return v if isinstance(v, np.ndarray) else np.arange(32, dtype=np.uint8)

def first_array(v):
    return v[0] if isinstance(v, list) else as_array(v)

def offset(v):
    a = as_array(v)
    return np.concatenate([[0], a]).astype(np.uint8)[1:]

def read_only(v):
    a = as_array(v).copy()
    a.flags.writeable = False
    return a

NAN_OUTSIDE = struct.unpack("<d", struct.pack("<Q", 0x7FFFFFFFE0000000))[0]
NEGATIVE_NAN = struct.unpack("<d", struct.pack("<Q", 0xFFF8000000000001))[0]

HOSTILE = {
    "none": lambda v: None,
    "int64_array": lambda v: np.arange(4, dtype=np.int64),
    "float64_array": lambda v: np.ones(4),
    "int8_array": lambda v: np.zeros(4, dtype=np.int8),
    "zero_d_array": lambda v: np.array(5, dtype=np.uint8),
    "two_d_array": lambda v: np.arange(8, dtype=np.uint8).reshape(2, 4),
    "fortran_two_d_array": lambda v: np.asfortranarray(np.arange(8, dtype=np.uint8).reshape(4, 2)),
    "fortran_copy": lambda v: np.asfortranarray(as_array(v)),
    "read_only_copy": read_only,
    "offset_view": offset,
    "empty_array": lambda v: np.zeros(0, dtype=np.uint8),
    "strided_view": lambda v: np.repeat(as_array(v), 2)[::2],
    "reversed_view": lambda v: as_array(v)[::-1],
    "list_of_strided": lambda v: [np.repeat(first_array(v), 2)[::2]] * 3,
    "list_of_bytes": lambda v: [b"abcd", b"efgh"],
    "tuple_of_arrays": lambda v: tuple(v) if isinstance(v, list) else (as_array(v),) * 2,
    "list_of_ints": lambda v: [1, 2, 3],
    "bytearray": lambda v: bytearray(b"abcd"),
    "memoryview": lambda v: memoryview(b"abcd"),
    "huge_int": lambda v: 2**64,
    "enormous_int": lambda v: 2**1100,
    "negative_int": lambda v: -1,
    "max_u64": lambda v: 2**64 - 1,
    "true": lambda v: True,
    "numpy_uint64": lambda v: np.uint64(7),
    "float": lambda v: 1.5,
    "infinity": lambda v: float("inf"),
    "nan": lambda v: float("nan"),
    "nan_outside_domain": lambda v: NAN_OUTSIDE,
    "negative_nan": lambda v: NEGATIVE_NAN,
    "str_subclass": lambda v: Text("abc"),
    "lone_surrogate": lambda v: "a\ud800",
    "bytes_subclass": lambda v: Blob(b"\x00" * 8),
    "index_raises": lambda v: IndexRaises(),
    "float_raises": lambda v: FloatRaises(),
    "iteration_raises": lambda v: IterationRaises(first_array(v)),
    "length_raises": lambda v: LengthRaises(first_array(v)),
    "generator": lambda v: (x for x in [first_array(v)] * 2),
    "dict": lambda v: {},
    "object": lambda v: object(),
}

name = NAME
valid = valid_calls(seed=1)[name]
outcomes = {}
for position in range(len(valid)):
    for value_name, make in HOSTILE.items():
        args = list(valid)
        args[position] = make(valid[position])
        print(f"case {position} {value_name}", file=sys.stderr, flush=True)
        outcomes[f"{position}:{value_name}"] = outcome(lambda: call(name, args))
print(json.dumps(outcomes))
"""


def expected_outcomes(name, position, value_name):
    rule = RULES[name][position]
    want = EXPECTED[value_name].get(rule, "TypeError")
    if want == "ok":
        return {"ok"} | CORE_FAILURES[name]
    return {want}


@pytest.mark.parametrize("name", sorted(RULES))
def test_hostile_arguments_raise_the_documented_type(name, run_python):
    code = f"HERE = {HERE!r}\nNAME = {name!r}\n" + CHILD
    done = run_python(code, timeout=300)
    last = done.stderr.strip().splitlines()[-1:] if done.stderr.strip() else []
    assert done.returncode == 0, f"child ended with {done.returncode} during {last}"
    outcomes = json.loads(done.stdout.strip().splitlines()[-1])
    wrong = {
        case: got
        for case, got in outcomes.items()
        if got not in expected_outcomes(name, int(case.split(":")[0]), case.split(":")[1])
    }
    assert not wrong, wrong
    assert {case.split(":")[1] for case in outcomes} == set(EXPECTED)
    assert len(outcomes) == len(RULES[name]) * len(EXPECTED)
