# The Python suite against the installed wheel under NumPy 2; its summary line
# is the last line of the test command.
set -euo pipefail
root=$PWD
cd "$(mktemp -d)"
"$root/.venv/bin/python" -m pytest -q -p no:cacheprovider "$root/mirelon-core-py/tests"
