#!/usr/bin/env bash
# Sets everything up, then runs every test: the core's GoogleTest suite, the
# Python suite under NumPy 1 and NumPy 2 (the last, whose summary ends the
# output).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

echo "== core tests (GoogleTest)"
cmake -S . -B build/tests -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRELON_BUILD_TESTS=ON >/dev/null
cmake --build build/tests --target mirelon_core_tests
build/tests/mirelon-core/tests/mirelon_core_tests --gtest_brief=1

# Run from outside the source tree so the installed module is what is tested.
cd "$(mktemp -d)"
echo "== Python tests with NumPy 1"
"$OLDPWD/.venv-numpy1/bin/python" -m pytest -q -p no:cacheprovider "$OLDPWD/mirelon-core-py/tests"
echo "== Python tests with NumPy 2"
"$OLDPWD/.venv/bin/python" -m pytest -q -p no:cacheprovider "$OLDPWD/mirelon-core-py/tests"
