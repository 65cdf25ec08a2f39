#!/usr/bin/env bash
# Installs what the project needs and is missing: Debian packages, then one
# virtual environment per NumPy major version with the pinned Python packages,
# then builds the wheel once and installs it into both.
set -euo pipefail
cd "$(dirname "$0")/.."

APT_PACKAGES=(g++ cmake ninja-build pkg-config libssl-dev libtbb-dev libexpected-dev
              libgtest-dev libbenchmark-dev python3-venv clang-14 libclang-rt-14-dev)

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
make_venv .venv requirements/numpy2.txt requirements/dev.txt
make_venv .venv-numpy1 requirements/numpy1.txt

echo "== building the wheel"
rm -rf dist
.venv/bin/python -m pip wheel -q --disable-pip-version-check --no-build-isolation --no-deps \
  -w dist .
for venv in .venv .venv-numpy1; do
  "$venv/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps \
    dist/mirelon_core_py-*.whl
done
echo "== installed $(basename dist/*.whl)"
