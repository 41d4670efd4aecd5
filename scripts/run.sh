#!/usr/bin/env bash
# Sets up, builds and starts Tolvex; arguments go to the program (for example --headless).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
exec ./build/src/app/tolvex "$@"
