# The core's GoogleTest suite under ThreadSanitizer, with more workers than
# this machine has processors so that the shared loops interleave. The build
# runs every loop on threads started per call (as a forked child does): the
# system's oneTBB is not instrumented, and the sanitizer would report each of
# its hand-offs as a race. The forked child starts threads of its own, which
# the sanitizer allows only when told.
set -euo pipefail
cmake --preset tsan >/dev/null
cmake --build --preset tsan
RAYON_NUM_THREADS=4 TSAN_OPTIONS=halt_on_error=1:die_after_fork=0 \
  build/tsan/mirelon-core/tests/mirelon_core_tests --gtest_brief=1
