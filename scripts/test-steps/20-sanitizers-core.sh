# The core and its GoogleTest suite under AddressSanitizer (leaks included) and
# UndefinedBehaviorSanitizer; the same build also makes the module that the
# next step tests.
set -euo pipefail
cmake -S . -B build/hardening-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMIRELON_BUILD_TESTS=ON -DMIRELON_BUILD_PYTHON=ON -DMIRELON_SANITIZE=ON \
  -DPython_EXECUTABLE="$PWD/.venv/bin/python" >/dev/null
cmake --build build/hardening-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  build/hardening-asan/mirelon-core/tests/mirelon_core_tests --gtest_brief=1
