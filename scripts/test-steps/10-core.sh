# The core's GoogleTest suite.
set -euo pipefail
cmake --preset dev >/dev/null
cmake --build --preset dev
build/dev/mirelon-core/tests/mirelon_core_tests --gtest_brief=1
