"""Every case of the shared known-answer file through the module (derive_key,
which the module only reaches with fresh entropy, through the C++ tests), and
the file itself is what the tests' models give."""

import json
import pathlib
import subprocess
import sys

import pytest

import mirelon_core_py as m
from conftest import outcome, u8
from test_range_condition import f32_from_bits

ROOT = pathlib.Path(__file__).resolve().parents[2]
VECTORS = json.loads((ROOT / "mirelon-core" / "tests" / "vectors" / "test_vectors.json").read_text())


def h(text):
    return u8(bytes.fromhex(text))


def f32(bits):
    return f32_from_bits(int(bits, 16))


# Each section's call, and the prefix the module puts before a returned error.
CALLS = {
    "involute_packet": ("Involute error: ", lambda c: m.involute_packet(h(c["packet"]), h(c["salt"]), c["chunk_size"])),
    "cond_involute_packet": ("Involute error: ", lambda c: m.cond_involute_packet(
        h(c["packet"]), h(c["salt"]), c["chunk_size"], c["low_bound"], c["high_bound"], f32(c["test_value"]))),
    "cycle_packet": ("Cycle error: ", lambda c: m.cycle_packet(
        h(c["packet"]), h(c["old_salt"]), h(c["new_salt"]), h(c["old_key"]), h(c["new_key"]), c["chunk_size"])),
    "map_data_failures": ("", lambda c: m.map_data(h(c["pub_key"]), h(c["priv_key"]), c["identity"],
                                                   [h(s) for s in c["data_sequences"]]).hex()),
    "get_chunk_size_min": ("", lambda c: m.get_chunk_size_min(h(c["packet"]), c["min_size"])),
    "prep_condition": ("", lambda c: list(m.prep_condition(f32(c["low_bound"]), f32(c["high_bound"]), h(c["salt"])))),
    "cond_hash_branch": ("", lambda c: m.cond_hash_branch(c["low_bound"], c["high_bound"], f32(c["test_value"]),
                                                          h(c["salt"]))),
}


@pytest.mark.parametrize("section", CALLS)
def test_each_call_ends_as_stated(section):
    prefix, call = CALLS[section]
    for c in VECTORS[section]:
        got = outcome(call, c)
        want = ("panic", c["failure"]) if "failure" in c else prefix + c["error"] if "error" in c else c["expected"]
        assert (got.hex() if isinstance(got, bytes) else got) == want, c
        assert c.get("min_size") != 4 or outcome(m.get_chunk_size, h(c["packet"])) == want


def test_mapping_both_ways():
    for c in VECTORS["mapping"]:
        pub, privs, data = h(c["pub_key"]), [h(k) for k in c["priv_keys"]], [h(s) for s in c["data_sequences"]]
        assert [m.map_data(pub, k, j, data).hex() for j, k in enumerate(privs)] == c["mapped"]
        assert [s.hex() for s in m.inv_data(pub, privs, [h(s) for s in c["mapped"]])] == c["data_sequences"]


def test_blobs():
    for c in VECTORS["package_blob"]:
        fields = [f["integer"] if "integer" in f else bytes.fromhex(f["bytes"]) for f in c["fields"]]
        assert m.package_blob(*fields).hex() == c["expected"]
    for c in VECTORS["unpack"]:
        for reader, want in ((m.unpack_setup_packet, c["setup"]), (m.unpack_encrypted_packet, c["encrypted"])):
            fields = tuple(v if k in ("mode", "identity", "error") else bytes.fromhex(v) for k, v in want.items())
            assert outcome(reader, bytes.fromhex(c["blob"])) == want.get("error", fields), c


def test_the_file_is_what_the_models_give():
    done = subprocess.run([sys.executable, str(ROOT / "scripts" / "write_test_vectors.py"), "--check"],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-2000:]
