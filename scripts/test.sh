#!/usr/bin/env bash
# Sets everything up, then runs every test step in scripts/test-steps/ in name
# order. The last step is the Python suite under NumPy 2, whose summary line
# ends the output.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# Every step uses the pinned cmake and ninja of .venv (requirements/tools.txt);
# PYTHON stays the interpreter the venvs were made from.
export PYTHON="${PYTHON:-$(command -v python3)}"
export PATH="$PWD/.venv/bin:$PATH"

for step in scripts/test-steps/*.sh; do
  echo
  echo "== $(basename "$step" .sh)"
  bash "$step" || { status=$?; echo "== $(basename "$step" .sh) FAILED (exit $status)"; exit "$status"; }
done
