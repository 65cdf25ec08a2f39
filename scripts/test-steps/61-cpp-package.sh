# The core as an installed C++ package: build and install it into a temporary
# prefix, then build the consumer in examples/cpp/ against it with
# find_package(mirelon_core CONFIG REQUIRED) and run it.
set -euo pipefail
root=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -S "$root" -B "$work/core" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/core" >/dev/null
cmake --install "$work/core" --prefix "$work/prefix" >/dev/null
cmake -S "$root/examples/cpp" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/chunk_and_blob"
echo "installed: $(cd "$work/prefix" && find . -type f | sort | tr '\n' ' ')"
