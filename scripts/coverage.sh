#!/usr/bin/env bash
# Line and branch coverage of the core and of the binding under the whole
# GoogleTest suite and the whole Python suite (on demand; the test command does
# not run it). Builds with --coverage and without optimisation into
# build/coverage, runs both suites against that build and prints gcovr's
# summary for each tree. Installs gcovr (Debian's) and runs setup.sh when
# they are missing.
#   scripts/coverage.sh                 the Python suite under .venv
#   PYTHON=/path/to/python scripts/coverage.sh
#   COVERAGE_HTML=dir scripts/coverage.sh   also a page per source file in dir
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=build/coverage
python=${PYTHON:-$root/.venv/bin/python}

if ! command -v gcovr >/dev/null; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get install -y -qq --no-install-recommends gcovr
fi
[ -x "$python" ] || scripts/setup.sh
export PATH="$root/.venv/bin:$PATH"  # the pinned cmake and ninja (requirements/tools.txt)

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DMIRELON_BUILD_TESTS=ON -DMIRELON_BUILD_PYTHON=ON -DPython_EXECUTABLE="$python" \
  -DCMAKE_CXX_FLAGS="--coverage -fprofile-update=atomic" -DCMAKE_EXE_LINKER_FLAGS=--coverage \
  -DCMAKE_MODULE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" --target mirelon_core_tests mirelon_core_py
find "$build" -name '*.gcda' -delete

# The counters are updated atomically: the worker threads share them. A
# failing suite still gives its figures; the script then ends with failure.
status=0
"$build/mirelon-core/tests/mirelon_core_tests" --gtest_brief=1 || status=1
(cd "$(mktemp -d)" && PYTHONPATH="$root/$build/mirelon-core-py" "$python" -c "
import sys, mirelon_core_py
assert mirelon_core_py.__file__.startswith('$root/$build/'), mirelon_core_py.__file__
sys.exit(__import__('pytest').main(['-q', '-p', 'no:cacheprovider', '$root/mirelon-core-py/tests']))") ||
  status=1

# Branches the compiler adds for exceptions and for code it proves unreachable
# are not the program's own decisions; they are left out of the branch figures.
report() {
  gcovr --root "$root" --object-directory "$build" --exclude-throw-branches \
    --exclude-unreachable-branches --print-summary "$@"
}
# gcovr replaces its --output file, so the full text report goes to a scratch
# file (never /dev/null, which it would turn into a regular file as root).
scratch_report=$(mktemp)
for tree in mirelon-core mirelon-core-py; do
  echo "== $tree"
  report --filter "$tree/(src|include)/" --output "$scratch_report"
done
rm -f "$scratch_report"
if [[ -n "${COVERAGE_HTML:-}" ]]; then
  mkdir -p "$COVERAGE_HTML"
  report --filter 'mirelon-core(-py)?/(src|include)/' --html-details "$COVERAGE_HTML/index.html"
fi
exit $status
