# The three-party demo against the installed wheel; it exits non-zero when a
# round trip fails.
set -euo pipefail
root=$PWD
cd "$(mktemp -d)"
"$root/.venv/bin/python" "$root/examples/demo.py"
