#!/usr/bin/env bash
# Installs what the project needs and is missing: Debian packages, then one
# virtual environment per NumPy major version with the pinned Python packages,
# then builds the wheel once, repairs it into a manylinux wheel that carries
# libtbb and libcrypto, installs that into both, and builds the sdist. dist/
# ends up holding exactly the two files users install from.
set -euo pipefail
cd "$(dirname "$0")/.."

# CMake and Ninja come from requirements/tools.txt (Debian 12's CMake is too old
# for the stable-ABI module); python3-dev gives the headers the module builds
# against; clang and libclang-rt-dev are the distribution's default clang (14
# on Debian 12, 19 on Debian 13) and its libFuzzer, for the fuzz preset; git
# for the test step that sets up a clone; graphviz draws the documentation
# site's pictures; nlohmann-json3-dev reads the
# known-answer file in the C++ tests.
APT_PACKAGES=(g++ pkg-config libssl-dev libtbb-dev libexpected-dev
              libgtest-dev nlohmann-json3-dev libbenchmark-dev python3-dev python3-venv clang libclang-rt-dev git graphviz)

missing=()
for package in "${APT_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  echo "== installing Debian packages: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The interpreter the venvs are made from, resolved before .venv/bin joins PATH.
PYTHON=$(command -v "${PYTHON:-python3}")
make_venv() {  # make_venv DIR REQUIREMENTS...
  local dir=$1 requirements=(-r requirements/test.txt); shift
  for file in "$@"; do requirements+=(-r "$file"); done
  if [ ! -x "$dir/bin/python" ]; then
    echo "== creating $dir"
    "$PYTHON" -m venv "$dir"
  fi
  "$dir/bin/python" -m pip install -q --disable-pip-version-check "${requirements[@]}"
}
make_venv .venv requirements/numpy2.txt requirements/dev.txt requirements/package.txt \
  requirements/tools.txt requirements/docs.txt
# NumPy 1 has no release for Python 3.13 or later (Debian 13's python3): there
# the NumPy 1 environment is left out and its test step says so.
if "$PYTHON" -c 'import sys; sys.exit(sys.version_info >= (3, 13))'; then
  make_venv .venv-numpy1 requirements/numpy1.txt
  venvs=(.venv .venv-numpy1)
else
  echo "== no .venv-numpy1: NumPy 1 has no release for $("$PYTHON" -V)"
  rm -rf .venv-numpy1
  venvs=(.venv)
fi
# From here on cmake and ninja (for the wheel build too) are the pinned ones.
export PATH="$PWD/.venv/bin:$PATH"

echo "== building the wheel"
# The wheel as built links the system's libtbb and libcrypto; it is kept in
# build/raw-wheel/ (the wheel-anywhere test step shows it failing without them).
rm -rf dist build/raw-wheel
.venv/bin/python -m pip wheel -q --disable-pip-version-check --no-build-isolation --no-deps \
  -w build/raw-wheel .
# auditwheel copies the libraries it may not assume on the target into
# mirelon_core_py.libs/ and tags the wheel with the oldest manylinux it fits.
repair_log=$(.venv/bin/auditwheel repair -w dist \
  build/raw-wheel/*.whl 2>&1) || { echo "$repair_log" >&2; exit 1; }
wheel=$(echo dist/mirelon_core_py-*-manylinux_*.whl)
for venv in "${venvs[@]}"; do
  "$venv/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps \
    "$wheel"
done
echo "== installed $(basename "$wheel")"
sdist_log=$(.venv/bin/python -m build --sdist --no-isolation -o dist . 2>&1) ||
  { echo "$sdist_log" >&2; exit 1; }
echo "== built $(basename dist/*.tar.gz)"
