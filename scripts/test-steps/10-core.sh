# The core's GoogleTest suite.
set -euo pipefail
cmake -S . -B build/tests -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRELON_BUILD_TESTS=ON >/dev/null
cmake --build build/tests --target mirelon_core_tests
build/tests/mirelon-core/tests/mirelon_core_tests --gtest_brief=1
