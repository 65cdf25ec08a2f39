#!/usr/bin/env bash
# Sets everything up, then runs the three-party demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >/dev/null
exec .venv/bin/python examples/demo.py "$@"
