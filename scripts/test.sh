#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite (unit, backend and end-to-end
# tests; the end-to-end ones start their own private X and sound servers).
#   scripts/test.sh [BUILD_DIR] [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
shift || true
"$root/scripts/install-deps.sh" build test
cmake -S "$root" -B "$dir" -G Ninja "$@"
cmake --build "$dir"
cd "$dir"
ctest --output-on-failure --timeout 600
