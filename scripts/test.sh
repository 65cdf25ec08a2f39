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

# Each header also says how long the step before took, so that the last line
# of the output stays the Python suite's summary.
previous="setup" started=0
for step in scripts/test-steps/*.sh; do
  name=$(basename "$step" .sh)
  echo
  echo "== $name   ($previous took $((SECONDS - started)) s; ${SECONDS} s so far)"
  previous=$name started=$SECONDS
  bash "$step" || { status=$?; echo "== $name FAILED (exit $status)"; exit "$status"; }
done
