"""Running out of memory inside a call raises MemoryError (or, when the result
object itself cannot be made, the panic "Python API call failed"), and the
interpreter goes on. Each case runs in a fresh interpreter whose address space
is capped a little above what it uses once its inputs exist."""

import os

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))

SCRIPT = r"""
import json, resource, sys
sys.path.insert(0, HERE)
import numpy as np
import mirelon_core_py as m
from test_hardening_calls import call, comparable, distinct_chunks, outcome, valid_calls

rng = np.random.default_rng(5)
small = valid_calls(seed=5)
expected = {n: comparable(n, call(n, a)) for n, a in small.items()}  # the pool has started

MiB = 1 << 20
packet = distinct_chunks(rng, 4 * MiB)              # 16 MiB, four million chunks
salt = np.zeros(8, np.uint8)
key = rng.permutation(256).astype(np.uint8)
# map_data reads its sequences in place: its own need is the 32 MiB result.
sequences = [rng.integers(0, 256, 32 * MiB, dtype=np.uint8) for _ in range(3)]
blob = m.package_blob(key, np.zeros(48 * MiB, np.uint8), "mode", 1)
big = {
    "involute_packet": (packet, salt, 4),
    "cond_involute_packet": (packet, salt, 4, 0, 2**64 - 1, 0.0),
    "cycle_packet": (packet, salt, salt, key, key, 4),
    "get_chunk_size_min": (packet, 4),
    "map_data": (key, key, 1, sequences),
    "inv_data": (key, [key, key, key], sequences),
    "package_blob": (packet, packet, packet, packet),
    "unpack_setup_packet": (blob,),
}

def used():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024

limit = used() + HEADROOM_MIB * MiB
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
got = {}
for name in NAMES:
    try:
        call(name, big[name])
        got[name] = "ok"
    except MemoryError:
        got[name] = "MemoryError"
    except BaseException as error:
        got[name] = type(error).__name__ + ": " + str(error)
    # After every failure the interpreter and the pool carry on.
    assert {n: comparable(n, call(n, a)) for n, a in small.items()} == expected
print(json.dumps(got))
"""

# Names whose work needs far more than the headroom.
MUST_FAIL = [
    "involute_packet",
    "cond_involute_packet",
    "cycle_packet",
    "get_chunk_size_min",
    "map_data",
    "inv_data",
]
# The blob writer's buffer or its bytes object does not fit; the reader's own
# work fits, but making its large result object fails in the interpreter, which
# prints the pending MemoryError and raises the panic.
RESULT_FAILS = ["package_blob", "unpack_setup_packet"]
RESULT_PANIC = "PanicException: Python API call failed"


def sanitized():
    return "asan" in os.environ.get("LD_PRELOAD", "")


@pytest.mark.skipif(sanitized(), reason="AddressSanitizer reserves more address space than the cap")
@pytest.mark.parametrize("threads", ["1", "2"])
def test_allocation_failures_raise_and_the_interpreter_goes_on(threads, run_python):
    import json

    names = MUST_FAIL + RESULT_FAILS
    code = f"HERE = {HERE!r}\nHEADROOM_MIB = 24\nNAMES = {names!r}\n" + SCRIPT
    done = run_python(code, env={"RAYON_NUM_THREADS": threads}, timeout=240)
    assert done.returncode == 0, done.stderr[-3000:]
    got = json.loads(done.stdout.strip().splitlines()[-1])
    assert {n: got[n] for n in MUST_FAIL} == {n: "MemoryError" for n in MUST_FAIL}
    assert got["package_blob"] in ("MemoryError", RESULT_PANIC)
    assert got["unpack_setup_packet"] == RESULT_PANIC
    assert "MemoryError" in done.stderr
    assert "terminate called" not in done.stderr
