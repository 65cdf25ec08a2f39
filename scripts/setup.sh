#!/usr/bin/env bash
# Installs what the project needs and is missing: Debian packages, then one
# virtual environment per NumPy major version with the pinned Python packages,
# then builds the wheel once, repairs it into a manylinux wheel that carries
# libtbb and libcrypto, installs that into both, and builds the sdist. dist/
# ends up holding exactly the two files users install from.
set -euo pipefail
cd "$(dirname "$0")/.."

APT_PACKAGES=(g++ cmake ninja-build pkg-config libssl-dev libtbb-dev libexpected-dev
              libgtest-dev nlohmann-json3-dev libbenchmark-dev python3-venv clang-14 libclang-rt-14-dev)

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

PYTHON="${PYTHON:-python3}"
make_venv() {  # make_venv DIR REQUIREMENTS...
  local dir=$1 requirements=(-r requirements/test.txt); shift
  for file in "$@"; do requirements+=(-r "$file"); done
  if [ ! -x "$dir/bin/python" ]; then
    echo "== creating $dir"
    "$PYTHON" -m venv "$dir"
  fi
  "$dir/bin/python" -m pip install -q --disable-pip-version-check "${requirements[@]}"
}
make_venv .venv requirements/numpy2.txt requirements/dev.txt requirements/package.txt
make_venv .venv-numpy1 requirements/numpy1.txt

echo "== building the wheel"
# The wheel as built links the system's libtbb and libcrypto; it is kept in
# build/raw-wheel/ (the wheel-anywhere test step shows it failing without them).
rm -rf dist build/raw-wheel
.venv/bin/python -m pip wheel -q --disable-pip-version-check --no-build-isolation --no-deps \
  -w build/raw-wheel .
# auditwheel copies the libraries it may not assume on the target into
# mirelon_core_py.libs/ and tags the wheel with the oldest manylinux it fits.
repair_log=$(PATH="$PWD/.venv/bin:$PATH" .venv/bin/auditwheel repair -w dist \
  build/raw-wheel/*.whl 2>&1) || { echo "$repair_log" >&2; exit 1; }
wheel=$(echo dist/mirelon_core_py-*-manylinux_*.whl)
for venv in .venv .venv-numpy1; do
  "$venv/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps \
    "$wheel"
done
echo "== installed $(basename "$wheel")"
sdist_log=$(.venv/bin/python -m build --sdist --no-isolation -o dist . 2>&1) ||
  { echo "$sdist_log" >&2; exit 1; }
echo "== built $(basename dist/*.tar.gz)"
