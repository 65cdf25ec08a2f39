"""The scenarios of test_process.py. Each runs in a fresh interpreter as
`python process_scenarios.py NAME` (the worker count and the kernels come from
the environment) and prints its result as JSON on its last line."""

import json
import os
import resource
import sys
import threading
import time
import tracemalloc

import numpy as np

import mirelon_core_py as m
from conftest import NAN_OUTSIDE, RULES, SANITIZED, call, checksum, distinct_chunks, kind, results, valid_calls

# Each rule's values and what they give: "ok" is success or one of the
# function's own failures (test_process.CORE_FAILURES).
RULE_VALUES = {
    "array": {"object": "TypeError", "int8_array": "TypeError", "zero_d_array": "TypeError",
              "two_d_array": "TypeError", "read_only_copy": "ok", "offset_view": "ok",
              "empty_array": "ok", "strided_view": "TypeError", "reversed_view": "TypeError"},
    "uint": {"none": "TypeError", "float": "TypeError", "huge_int": "OverflowError",
             "negative_int": "OverflowError", "max_u64": "ok", "true": "ok", "numpy_uint64": "ok",
             "zero_d_array": "ok", "index_raises": "RuntimeError"},
    "float32": {"str_subclass": "TypeError", "enormous_int": "OverflowError", "huge_int": "ok",
                "infinity": "ok", "nan_outside_domain": "ok", "numpy_uint64": "ok", "zero_d_array": "ok",
                "float_raises": "RuntimeError", "index_raises": "RuntimeError"},
    "text": {"bytes_subclass": "TypeError", "str_subclass": "ok", "lone_surrogate": "UnicodeEncodeError"},
    "seed": {"bytearray": "TypeError", "int8_array": "TypeError", "read_only_copy": "ok", "offset_view": "ok",
             "empty_array": "ValueError", "strided_view": "ValueError", "reversed_view": "ValueError"},
    "array_list": {"dict": "TypeError", "generator": "TypeError", "str_subclass": "TypeError",
                   "two_d_array": "ok", "fortran_two_d_array": "ok", "tuple_of_arrays": "ok",
                   "list_of_strided": "ok", "iteration_raises": "RuntimeError",
                   "length_raises": "RuntimeError"},
    # test_blob.py checks each accepted form's encoding and each refusal's text.
    "field": {"none": "TypeError", "list_of_bytes": "TypeError", "index_raises": "TypeError", "length_raises": "TypeError",
              "zero_d_array": "ok", "reversed_view": "ValueError"},
    "bytes": {"bytearray": "TypeError", "memoryview": "TypeError", "bytes_subclass": "ok"},
}



def run(f, *args):
    try:
        return f(*args)
    except BaseException as e:
        return f"{type(e).__name__}: {e}".encode()


def results_digest():
    # Every shape of crumb (no whole hash block, whole blocks and a tail, a long
    # salt) and of mapping (every party count from 2 to 18, lengths that end
    # mid-vector), failures on the pool included.
    import hashlib
    rng = np.random.default_rng(11)
    digest = hashlib.sha256()
    def add(value):
        for item in value if isinstance(value, list) else [value]:
            digest.update(len(item).to_bytes(8, "little") + item)
    for c, count, salt_len in [(16, 5000, 16), (64, 3000, 16), (100, 700, 3), (4096, 40, 90),
                               ((1 << 20) + 17, 5, 16)]:
        packet = rng.integers(0, 256, c * count, dtype=np.uint8)
        packet.reshape(count, c)[:, :4] = np.arange(count, dtype=">u4").view(np.uint8).reshape(count, 4)
        salt = rng.integers(0, 256, salt_len, dtype=np.uint8)
        lo, hi = m.prep_condition(-2.0, 2.0, salt)
        key = rng.permutation(256).astype(np.uint8)
        add(run(m.involute_packet, packet, salt, c))
        add(run(m.cond_involute_packet, packet, salt, c, 5, 2**63, 0.25))
        add(run(m.cond_involute_packet, packet, salt, c, lo, hi, 3.0))
        add(run(m.cycle_packet, packet, salt, salt[::-1].copy(), key, rng.permutation(key), c))
        add(run(m.involute_packet, np.tile(packet[:c], count), salt, c))  # duplicate crumbs
        if c <= 4096:
            add(str(m.get_chunk_size(np.tile(packet[: c * 8], 64))).encode())
    pub = rng.integers(0, 256, 256, dtype=np.uint8)
    for n, length in [(2, 4096 * 3 + 17), (3, 100_000), (16, 65 * 63)] + [(n, 333) for n in range(4, 19)]:
        keys = [rng.permutation(256).astype(np.uint8) for _ in range(n)]
        data = [rng.integers(0, 256, length, dtype=np.uint8) for _ in range(n)]
        mapped = [np.frombuffer(m.map_data(pub, keys[j], j, data), np.uint8) for j in range(n)]
        add([a.tobytes() for a in mapped])
        add(m.inv_data(pub, keys, mapped))
        add(run(m.map_data, pub[:200], keys[0], n - 1, data))  # fails on some positions
    # Results of 4 MiB and more are faulted in by the workers that write them,
    # a step at a time; these end mid-step, and must still undo themselves.
    big = [rng.integers(0, 256, (4 << 20) + 64 * 3, dtype=np.uint8) for _ in range(3)]
    sealed = m.involute_packet(big[0], salt, 64)
    assert m.involute_packet(np.frombuffer(sealed, np.uint8), salt, 64) == big[0].tobytes()
    big_mapped = [np.frombuffer(m.map_data(pub, keys[j], j, big), np.uint8) for j in range(3)]
    assert m.inv_data(pub, keys[:3], big_mapped) == [b.tobytes() for b in big]
    add([sealed] + [a.tobytes() for a in big_mapped])
    print(json.dumps(digest.hexdigest()))


def wait(pid, deadline=60.0):
    end = time.monotonic() + deadline
    while time.monotonic() < end:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.01)
    os.kill(pid, 9)
    os.waitpid(pid, 0)
    return "hung"


def fork():
    # Children forked right after the pool has worked, half leaving through
    # the interpreter's own shutdown and half at once, each with a grandchild
    # made after the child has used the functions itself. Nothing here catches
    # the children's SystemExit, so it unwinds only their own copy.
    calls = valid_calls(seed=7, size=1 << 14)
    expected = results(calls)
    codes = []
    for i in range(8):
        results(calls)
        pid = os.fork()
        if pid == 0:
            code = 0 if results(calls) == expected else 3
            if code == 0:
                grandchild = os.fork()
                if grandchild == 0:
                    os._exit(0 if results(calls) == expected else 3)
                code = wait(grandchild)
            sys.exit(code) if i % 2 else os._exit(code)
        codes.append(wait(pid))
    assert codes == [0] * 8, codes
    assert results(calls) == expected  # and the parent's pool still works
    print(json.dumps("ok"))


def memory():
    # The address space is capped a little above what the process uses once
    # the inputs exist; each call then needs far more than the headroom.
    small = valid_calls(seed=5)
    expected = results(small)
    rng = np.random.default_rng(5)
    MiB = 1 << 20
    packet = distinct_chunks(rng, 4 * MiB)  # 16 MiB, four million chunks
    salt = np.zeros(8, np.uint8)
    key = rng.permutation(256).astype(np.uint8)
    sequences = [rng.integers(0, 256, 32 * MiB, dtype=np.uint8) for _ in range(3)]
    blob = m.package_blob(key, np.zeros(48 * MiB, np.uint8), "mode", 1)
    big = {
        "involute_packet": (packet, salt, 4),
        "cond_involute_packet": (packet, salt, 4, 0, 2**64 - 1, 0.0),
        "cycle_packet": (packet, salt, salt, key, key, 4),
        "get_chunk_size_min": (distinct_chunks(rng, 8 * MiB), 4),  # a table of 60 MiB
        "map_data": (key, key, 1, sequences),  # its own need is the 32 MiB result
        "inv_data": (key, [key, key, key], sequences),
        "package_blob": (packet, packet, packet, packet),
        "unpack_setup_packet": (blob,),
    }
    with open("/proc/self/status") as status:
        used = next(int(l.split()[1]) * 1024 for l in status if l.startswith("VmSize:"))
    limit = used + 24 * MiB
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    got = {}
    for name, args in big.items():
        try:
            call(name, args)
            got[name] = "ok"
        except BaseException as e:
            got[name] = f"{type(e).__name__}: {e}"
        assert results(small) == expected  # the interpreter and the pool carry on
    print(json.dumps(got))


def threads():
    # Eight threads call every function at once on inputs of their own.
    inputs = [valid_calls(seed=100 + t, size=2048) for t in range(8)]
    expected = [results(calls) for calls in inputs]
    sums = [checksum(calls) for calls in inputs]
    start, got, failures = threading.Barrier(8), [None] * 8, []
    def worker(t):
        try:
            start.wait()
            got[t] = [results(inputs[t]) for _ in range(5)]
        except BaseException as error:
            failures.append((t, repr(error)))
    pool = [threading.Thread(target=worker, args=(t,)) for t in range(8)]
    for thread in pool:
        thread.start()
    for thread in pool:
        thread.join(timeout=120)
    assert not any(thread.is_alive() for thread in pool) and not failures, failures
    assert got == [[e] * 5 for e in expected]
    assert [checksum(calls) for calls in inputs] == sums  # no argument changed
    assert len({e["involute_packet"] for e in expected}) == 8  # no call was shared
    print(json.dumps("ok"))


def leaks():
    # Success and error paths run many times: traced memory and the resident
    # set stay flat and the arguments' reference counts are what they were.
    # AddressSanitizer holds freed memory back, so the resident set grows there
    # whatever the module does; its own leak check covers the C++ side.
    rounds, warmup = (200, 50) if SANITIZED else (1000, 100)
    v = valid_calls(seed=2, size=1024)
    strided = lambda a: np.repeat(a, 2)[::2]
    short_key = np.arange(16, dtype=np.uint8)
    def swap(name, position, value):
        args = list(v[name])
        args[position] = value
        return (name, args)
    cases = [(name, list(args)) for name, args in v.items()]
    cases += [swap(name, len(args) - 1, None) for name, args in v.items()]  # after the others converted
    cases += [swap(*case) for case in [
        ("involute_packet", 0, strided(v["involute_packet"][0])), ("involute_packet", 2, 3),
        ("involute_packet", 2, -1), ("cycle_packet", 4, short_key), ("cycle_packet", 5, 3),
        ("get_chunk_size_min", 1, 0), ("cond_involute_packet", 5, NAN_OUTSIDE),
        ("cond_involute_packet", 3, 2**64), ("gen_key", 2, np.zeros(31, np.uint8)),
        ("gen_key", 1, "\ud800"), ("prep_condition", 1, NAN_OUTSIDE), ("map_data", 2, 9),
        ("map_data", 1, short_key), ("map_data", 3, [strided(s) for s in v["map_data"][3]]),
        ("map_data", 3, [v["map_data"][3][0], b"xy"]), ("inv_data", 1, v["inv_data"][1][:2]),
        ("inv_data", 0, short_key), ("package_blob", 0, strided(v["package_blob"][0])),
        ("package_blob", 1, [1, 256]), ("unpack_setup_packet", 0, v["unpack_setup_packet"][0][:-3]),
        ("unpack_encrypted_packet", 0, v["unpack_encrypted_packet"][0] + b"x")]]
    def fresh(a):  # literals are interned and shared with all else that runs
        return a.encode("utf-8", "surrogatepass").decode("utf-8", "surrogatepass") if type(a) is str else a
    grown = {}
    for number, (name, args) in enumerate(cases):
        args = [fresh(a) for a in args]
        held = [o for a in args for o in ([a, *a] if isinstance(a, list) else [a])
                if not (o is None or type(o) in (bool, int) and -5 <= o <= 256)]
        counts = [sys.getrefcount(o) for o in held]
        once = lambda: kind(lambda: call(name, args))
        tracemalloc.start()
        for _ in range(warmup):
            once()
        traced, rss = tracemalloc.get_traced_memory()[0], resident()
        for _ in range(rounds):
            once()
        traced, rss = tracemalloc.get_traced_memory()[0] - traced, resident() - rss
        tracemalloc.stop()
        if traced > 64 * 1024 or (not SANITIZED and rss > 4 << 20) or counts != [sys.getrefcount(o) for o in held]:
            grown[f"{number} {name} {once()}"] = (traced, rss)
    print(json.dumps(grown or "ok"))


def valid_results():  # repr, not a hashlib digest: hashlib obeys the host's OpenSSL settings
    print(json.dumps(repr(results(valid_calls()))))


def resident():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


def hostile():
    # Each parameter is given the values of its rule in turn. Progress goes to
    # stderr, so a crash names its case.
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
    as_array = lambda v: v if isinstance(v, np.ndarray) else v[0] if isinstance(v, list) else np.arange(32, dtype=np.uint8)
    def read_only(v):
        a = as_array(v).copy()
        a.flags.writeable = False
        return a
    values = {
        "none": lambda v: None, "object": lambda v: object(), "dict": lambda v: {},
        "int8_array": lambda v: np.arange(32, dtype=np.int8),  # the nearest wrong dtype
        "zero_d_array": lambda v: np.array(5, dtype=np.uint8),
        "two_d_array": lambda v: np.arange(8, dtype=np.uint8).reshape(2, 4),
        "fortran_two_d_array": lambda v: np.asfortranarray(np.arange(8, dtype=np.uint8).reshape(4, 2)),
        "read_only_copy": read_only,
        "offset_view": lambda v: np.concatenate([[0], as_array(v)]).astype(np.uint8)[1:],
        "empty_array": lambda v: np.zeros(0, dtype=np.uint8),
        "strided_view": lambda v: np.repeat(as_array(v), 2)[::2],
        "reversed_view": lambda v: as_array(v)[::-1],
        "list_of_strided": lambda v: [np.repeat(as_array(v), 2)[::2]] * 3,
        "list_of_bytes": lambda v: [b"abcd", b"efgh"],
        "tuple_of_arrays": lambda v: tuple(v) if isinstance(v, list) else (as_array(v),) * 2,
        "bytearray": lambda v: bytearray(b"abcd"), "memoryview": lambda v: memoryview(b"abcd"),
        "huge_int": lambda v: 2**64, "enormous_int": lambda v: 2**1100, "negative_int": lambda v: -1,
        "max_u64": lambda v: 2**64 - 1, "true": lambda v: True, "numpy_uint64": lambda v: np.uint64(7),
        "float": lambda v: 1.5, "infinity": lambda v: float("inf"),
        "nan_outside_domain": lambda v: NAN_OUTSIDE, "str_subclass": lambda v: Text("abc"),
        "lone_surrogate": lambda v: "a\ud800", "bytes_subclass": lambda v: Blob(b"\x00" * 8),
        "index_raises": lambda v: IndexRaises(), "float_raises": lambda v: FloatRaises(),
        "iteration_raises": lambda v: IterationRaises(as_array(v)),
        "length_raises": lambda v: LengthRaises(as_array(v)),
        "generator": lambda v: (x for x in [as_array(v)] * 2),
    }
    outcomes = {}
    for name, valid in valid_calls(seed=1).items():
        for position, rule in enumerate(RULES[name]):
            for value in RULE_VALUES[rule]:
                args = list(valid)
                args[position] = values[value](valid[position])
                print(f"{name} {position} {value}", file=sys.stderr, flush=True)
                outcomes[f"{name} {position} {value}"] = kind(lambda: call(name, args))
    print(json.dumps(outcomes))



if __name__ == "__main__":
    globals()[sys.argv[1]]()
