"""Whole-process behaviour, each scenario in a fresh interpreter so that a crash,
a hang or a capped address space ends only that scenario: results that depend
neither on the worker count nor on the kernels (portable or wide), fork,
running out of memory, leaks, calls from many threads, hostile arguments,
the module's import, and a host's OpenSSL configuration, which changes nothing."""

import json
import os
import subprocess
import sys

import pytest

from conftest import HERE, RULES, SANITIZED, results, valid_calls
from process_scenarios import RULE_VALUES

WORKERS = ["1", "4"]
KERNELS = {"portable": "1", "wide": "0"}
CONFIGS = [(w, k) for w in WORKERS for k in KERNELS]


def scenario(name, workers="2", kernels="wide", env=None):
    """The last line the scenario prints, as JSON, and the child's stderr."""
    env = {**os.environ, "RAYON_NUM_THREADS": workers, "MIRELON_PORTABLE_KERNELS": KERNELS[kernels], **(env or {})}
    done = subprocess.run([sys.executable, os.path.join(HERE, "process_scenarios.py"), name],
                          capture_output=True, text=True, env=env, timeout=300)
    assert done.returncode == 0, f"{name} ended with {done.returncode}: {done.stderr[-3000:]}"
    return json.loads(done.stdout.strip().splitlines()[-1]), done.stderr


def test_results_depend_on_neither_workers_nor_kernels():
    digests = {config: scenario("results_digest", *config)[0] for config in CONFIGS}
    assert len(set(digests.values())) == 1, digests


# fork: children forked right after the pool has worked, and their own
# children; threads: eight at once, each on inputs of its own; leaks: success
# and error paths run many times.
@pytest.mark.parametrize("name", ["fork", "threads", "leaks"])
@pytest.mark.parametrize("workers, kernels", CONFIGS)
def test_children_threads_and_repeated_calls_get_what_one_call_gets(name, workers, kernels):
    assert scenario(name, workers, kernels)[0] == "ok"


# The blob writer's buffer or its bytes object does not fit; the reader's own
# work fits, but making its large result object fails in the interpreter,
# which raises the panic.
RESULT_PANIC = "PanicException: Python API call failed"


@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer reserves more address space than the cap")
@pytest.mark.parametrize("workers, kernels", CONFIGS)
def test_allocation_failures_raise_and_the_interpreter_goes_on(workers, kernels):
    got, stderr = scenario("memory", workers, kernels)
    assert got.pop("package_blob") in ("MemoryError: ", RESULT_PANIC)
    assert got.pop("unpack_setup_packet") == RESULT_PANIC
    assert got == dict.fromkeys(got, "MemoryError: ")
    assert "MemoryError" in stderr  # the interpreter's, printed before the panic


CORE_FAILURES = {
    "involute_packet": {"ValueError"}, "cycle_packet": {"ValueError", "panic"},
    "get_chunk_size_min": {"panic"}, "cond_involute_packet": {"ValueError", "panic"},
    "gen_key": {"ValueError"}, "prep_condition": {"panic"}, "cond_hash_branch": {"panic"},
    "map_data": {"panic"}, "inv_data": {"panic"}, "package_blob": {"ValueError"},
    "unpack_setup_packet": {"ValueError"}, "unpack_encrypted_packet": {"ValueError"},
}


def test_hostile_arguments_raise_their_rules_exception():
    outcomes = scenario("hostile")[0]
    wrong = {}
    for case, got in outcomes.items():
        name, position, value = case.split()
        want = RULE_VALUES[RULES[name][int(position)]][value]
        if got not in ({want} if want != "ok" else {"ok"} | CORE_FAILURES.get(name, set())):
            wrong[case] = got
    assert not wrong, wrong
    assert len(outcomes) == sum(len(RULE_VALUES[rule]) for rules in RULES.values() for rule in rules)


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


# OpenSSL configurations a host may set for its other programs: properties
# only a FIPS provider meets, no provider but the base one, a broken file.
OPENSSL_CONFS = {
    "fips-properties": "openssl_conf = init\n[init]\nalg_section = algs\n[algs]\ndefault_properties = fips=yes\n",
    "base-provider-only": "openssl_conf = init\n[init]\nproviders = prov\n[prov]\nbase = base\n[base]\nactivate = 1\n",
    "unparsable": "[init\nthis = = is not a configuration\n",
}


@pytest.mark.parametrize("conf", OPENSSL_CONFS.values(), ids=OPENSSL_CONFS)
def test_results_ignore_the_hosts_openssl_configuration(conf, tmp_path):
    (tmp_path / "openssl.cnf").write_text(conf)
    env = {"OPENSSL_CONF": str(tmp_path / "openssl.cnf")}
    assert scenario("valid_results", env=env)[0] == repr(results(valid_calls()))
