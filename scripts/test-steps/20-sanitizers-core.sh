# The core and its GoogleTest suite under AddressSanitizer (leaks included) and
# UndefinedBehaviorSanitizer; the same build also makes the module that the
# next step tests.
set -euo pipefail
cmake --preset asan >/dev/null
cmake --build --preset asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  build/asan/mirelon-core/tests/mirelon_core_tests --gtest_brief=1
