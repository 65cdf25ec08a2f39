# The release files as a package index and a careful user see them: the
# repaired wheel's extension uses only the limited API of its abi3 tag (for
# CPython 3.9), the wheel's contents are sane (pyproject.toml says which
# warnings do not apply, and why), and the metadata and README of the wheel
# and the sdist render.
set -euo pipefail
start=$SECONDS
wheel=$(echo dist/mirelon_core_py-*-manylinux_*.whl)
sdist=$(echo dist/mirelon_core_py-*.tar.gz)
# abi3audit reads the wheel only; its summary is one line however wide.
COLUMNS=200 NO_COLOR=1 .venv/bin/abi3audit --strict --summary "$wheel" 2>&1 | sed 's/^\[[0-9:]*\] *//; s/ *$//'
.venv/bin/check-wheel-contents --config pyproject.toml "$wheel"
.venv/bin/twine --no-color check --strict "$wheel" "$sdist"
echo "package checks in $((SECONDS - start)) s"
