#!/usr/bin/env bash
# Runs Debian's arm64 Python under qemu-user with the aarch64 wheel of dist/,
# NumPy, pytest and hypothesis installed for it, for trying things on aarch64
# by hand after scripts/build-aarch64.sh, for example
#   scripts/aarch64/python.sh -m pytest mirelon-core-py/tests/test_blob.py
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
source scripts/aarch64/sysroot.sh
source scripts/aarch64/emulation.sh
cd - >/dev/null
reason=$(aarch64_register_binfmt) || { echo "cannot run arm64 programs here: $reason" >&2; exit 1; }
(cd "$root" && aarch64_install "$(echo dist/mirelon_core_py-*-manylinux_*_aarch64.whl)") >&2
aarch64_python "$@"
