#!/usr/bin/env bash
# Builds the module for 64-bit ARM Linux on this x86-64 machine: cross-compiles
# it with cmake/toolchains/aarch64-linux-gnu.cmake against Debian's arm64
# libcrypto and libtbb, and repairs the wheel into a manylinux aarch64 wheel
# that carries its own copies of both. The wheel lands in dist/ beside the
# x86-64 wheel and the sdist. The core's GoogleTest suite is cross-built in the
# same tree (build/aarch64/wheel/), for the emulated test step to run.
# Needs scripts/setup.sh to have run (.venv with the pinned build tools).
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x .venv/bin/auditwheel ] || { echo "run scripts/setup.sh first" >&2; exit 1; }
export PATH="$PWD/.venv/bin:$PATH"
source scripts/aarch64/sysroot.sh
aarch64_prepare

echo "== cross-building the aarch64 wheel"
export MIRELON_AARCH64_SYSROOT="$AARCH64_SYSROOT"
raw="$AARCH64_ROOT/raw-wheel"
rm -rf "$raw" dist/mirelon_core_py-*_aarch64.whl
# The wheel's platform tag is the target's; the stable-ABI headers are the
# arm64 Python's (its pyconfig.h differs from this machine's).
build_log=$(_PYTHON_HOST_PLATFORM=linux-aarch64 .venv/bin/python -m pip wheel -v \
  --disable-pip-version-check --no-build-isolation --no-deps -w "$raw" \
  -C build-dir="$AARCH64_ROOT/wheel" \
  -C cmake.define.CMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/aarch64-linux-gnu.cmake" \
  -C cmake.define.Python_INCLUDE_DIR="$AARCH64_SYSROOT/usr/include/python$AARCH64_PYTHON_VERSION" \
  -C cmake.define.Python3_INCLUDE_DIR="$AARCH64_SYSROOT/usr/include/python$AARCH64_PYTHON_VERSION" \
  -C cmake.define.MIRELON_BUILD_TESTS=ON . 2>&1) || { echo "$build_log" >&2; exit 1; }
grep -E "warning:" <<<"$build_log" >&2 || true

# auditwheel looks for the libraries to bundle on the library path; the arm64
# ones are only in the unpacked packages.
repair_log=$(LD_LIBRARY_PATH="$AARCH64_SYSROOT/usr/lib/aarch64-linux-gnu" \
  .venv/bin/auditwheel repair -w dist "$raw"/*.whl 2>&1) || { echo "$repair_log" >&2; exit 1; }
wheel=$(echo dist/mirelon_core_py-*-manylinux_*_aarch64.whl)
[ -f "$wheel" ] || { echo "$repair_log" >&2; echo "no aarch64 wheel in dist/" >&2; exit 1; }

# The extension inside must be an AArch64 object, whatever the tag says.
unpacked="$AARCH64_ROOT/unpacked"
rm -rf "$unpacked" && .venv/bin/python -m zipfile -e "$wheel" "$unpacked"
module=$(echo "$unpacked"/mirelon_core_py*.so)
machine=$(readelf -h "$module" | awk -F: '/Machine:/ {gsub(/^ +/, "", $2); print $2}')
[ "$machine" = AArch64 ] || { echo "$module is built for '$machine', not AArch64" >&2; exit 1; }
tag=$(.venv/bin/auditwheel show "$wheel" | tr '\n' ' ' |
  sed -n 's/.*consistent with the following platform tag: "\([^"]*\)".*/\1/p')
[[ $tag == manylinux_*_aarch64 ]] || { echo "auditwheel show: no manylinux aarch64 tag" >&2; exit 1; }
bundled=$(cd "$unpacked" && echo mirelon_core_py.libs/*)
echo "== built $(basename "$wheel"): $(du -k "$wheel" | cut -f1) KiB, readelf: $machine," \
  "auditwheel: $tag, bundles ${bundled//mirelon_core_py.libs\//}"
# The bundled arm64 libraries' licence texts, as in the x86-64 wheel.
.venv/bin/python scripts/check-wheel-licences.py "$wheel"
