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
# The C++ package and the Python distribution carry one version.
cmake_version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' \
  "$work"/prefix/lib*/cmake/mirelon_core/mirelon_core-config-version.cmake)
python_version=$("$root/.venv/bin/python" -c 'import importlib.metadata as m; print(m.version("mirelon-core-py"))')
[ "$cmake_version" = "$python_version" ] ||
  { echo "CMake package $cmake_version, Python distribution $python_version" >&2; exit 1; }
echo "version $cmake_version (CMake package config and Python metadata)"
echo "installed: $(cd "$work/prefix" && find . -type f | sort | tr '\n' ' ')"
