"""Success and error paths of every function, run a few thousand times: the
memory the interpreter traces and the resident set stay flat, and the
arguments' reference counts are what they were."""

import os
import struct
import sys
import tracemalloc

import numpy as np
import pytest

from test_hardening_calls import call, outcome, valid_calls

# AddressSanitizer holds freed memory back in quarantine, so the resident set
# grows there whatever the module does; its own leak check covers the C++ side,
# and fewer rounds keep the instrumented run short.
SANITIZED = "asan" in os.environ.get("LD_PRELOAD", "")
ROUNDS = 200 if SANITIZED else 5000
WARMUP = 50 if SANITIZED else 200
# A leaked result or argument copy of these inputs (4 KiB and up) would grow
# the traced memory by megabytes over the rounds.
TRACED_SLACK = 64 * 1024
RSS_SLACK = 4 * 1024 * 1024
NAN_OUTSIDE = struct.unpack("<d", struct.pack("<Q", 0x7FFFFFFFE0000000))[0]


def strided(a):
    return np.repeat(a, 2)[::2]


def replaced(args, position, value):
    args = list(args)
    args[position] = value
    return tuple(args)


def fresh(value):
    """A str argument as a new object of its own: a literal such as 'mode' is
    interned and shared with whatever else runs, so only a fresh copy's
    reference count is this call's to change."""
    if type(value) is not str:
        return value
    return value.encode("utf-8", "surrogatepass").decode("utf-8", "surrogatepass")


def cases():
    """(function, path, args, outcome): the success path and error paths."""
    v = valid_calls(seed=2, size=1024)
    short_key = np.arange(16, dtype=np.uint8)
    out = []
    for name, args in v.items():
        out.append((name, "success", args, "ok"))
        out.append((name, "argument type", replaced(args, 0, None), "TypeError"))
    errors = [
        ("involute_packet", "not contiguous", replaced(v["involute_packet"], 0, strided(v["involute_packet"][0])), "TypeError"),
        ("involute_packet", "chunk mismatch", replaced(v["involute_packet"], 2, 3), "ValueError"),
        ("involute_packet", "negative chunk size", replaced(v["involute_packet"], 2, -1), "OverflowError"),
        ("cycle_packet", "keys differ", replaced(v["cycle_packet"], 4, short_key), "panic"),
        ("cycle_packet", "chunk mismatch", replaced(v["cycle_packet"], 5, 3), "ValueError"),
        ("get_chunk_size", "not contiguous", (strided(v["get_chunk_size"][0]),), "TypeError"),
        ("get_chunk_size_min", "zero minimum", replaced(v["get_chunk_size_min"], 1, 0), "panic"),
        ("cond_involute_packet", "test value outside", replaced(v["cond_involute_packet"], 5, NAN_OUTSIDE), "panic"),
        ("cond_involute_packet", "bound too large", replaced(v["cond_involute_packet"], 3, 2**64), "OverflowError"),
        ("gen_key", "short seed", replaced(v["gen_key"], 2, np.zeros(31, np.uint8)), "ValueError"),
        ("gen_key", "lone surrogate", replaced(v["gen_key"], 1, "\ud800"), "UnicodeEncodeError"),
        ("prep_condition", "bound outside", replaced(v["prep_condition"], 1, NAN_OUTSIDE), "panic"),
        ("cond_hash_branch", "test value outside", replaced(v["cond_hash_branch"], 2, NAN_OUTSIDE), "panic"),
        ("map_data", "identity too large", replaced(v["map_data"], 2, 9), "panic"),
        ("map_data", "short key on the workers", replaced(v["map_data"], 1, short_key), "panic"),
        ("map_data", "element not contiguous", replaced(v["map_data"], 3, [strided(s) for s in v["map_data"][3]]), "panic"),
        ("map_data", "element of the wrong kind", replaced(v["map_data"], 3, [v["map_data"][3][0], b"xy"]), "TypeError"),
        ("inv_data", "counts differ", replaced(v["inv_data"], 1, v["inv_data"][1][:2]), "panic"),
        ("inv_data", "short public key", replaced(v["inv_data"], 0, short_key), "panic"),
        ("package_blob", "not contiguous", (strided(v["package_blob"][0]), "mode"), "ValueError"),
        ("package_blob", "no field type", (v["package_blob"][0], [1, 256]), "TypeError"),
        ("unpack_setup_packet", "truncated", (v["unpack_setup_packet"][0][:-3],), "ValueError"),
        ("unpack_encrypted_packet", "length mismatch", (v["unpack_encrypted_packet"][0] + b"x",), "ValueError"),
    ]
    return [(name, path, tuple(map(fresh, args)), want) for name, path, args, want in out + errors]


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


def shared(o):
    """None, booleans and small ints: the interpreter's shared objects, whose
    counts move with everything else that runs."""
    return o is None or isinstance(o, bool) or (type(o) is int and -5 <= o <= 256)


def held_objects(args):
    """Every argument, and every element of a list argument."""
    objects = list(args)
    for a in args:
        if isinstance(a, (list, tuple)):
            objects.extend(a)
    return [o for o in objects if not shared(o)]


@pytest.mark.parametrize(
    "name, path, args, expected", cases(), ids=[f"{c[0]}-{c[1]}" for c in cases()]
)
def test_repeated_calls_leave_nothing_behind(name, path, args, expected, capfd):
    run = lambda: call(name, args)  # noqa: E731
    assert outcome(run) == expected
    objects = held_objects(args)
    counts = [sys.getrefcount(o) for o in objects]
    tracemalloc.start()
    try:
        for _ in range(WARMUP):
            outcome(run)
        traced_before = tracemalloc.get_traced_memory()[0]
        rss_before = resident_bytes()
        for _ in range(ROUNDS):
            outcome(run)
        traced_after = tracemalloc.get_traced_memory()[0]
        rss_after = resident_bytes()
    finally:
        tracemalloc.stop()
    capfd.readouterr()  # the panics' reports
    assert traced_after - traced_before < TRACED_SLACK
    assert SANITIZED or rss_after - rss_before < RSS_SLACK
    assert [sys.getrefcount(o) for o in objects] == counts
