# Peak memory of every function beyond its result, at 64 MiB, against the
# installed wheel; each call in a fresh interpreter. Not a timing test.
set -euo pipefail
root=$PWD
cd "$(mktemp -d)"
"$root/.venv/bin/python" "$root/scripts/memory_check.py"
