# The type stubs: the demo and the examples pass mypy --strict against the
# installed stubs, and stubtest finds the stubs in step with the installed
# module (names, parameters, keyword use); the process scenarios, the vector
# reader and writer pass mypy too. Run from outside the source tree.
set -euo pipefail
root=$PWD
cd "$(mktemp -d)"
"$root/.venv/bin/python" -m mypy --strict --cache-dir=.mypy_cache "$root"/examples/*.py
"$root/.venv/bin/python" -m mypy --cache-dir=.mypy_cache "$root"/scripts/write_test_vectors.py \
  "$root"/mirelon-core-py/tests/{conftest,process_scenarios,test_process,test_vectors}.py
"$root/.venv/bin/python" -m mypy.stubtest mirelon_core_py
