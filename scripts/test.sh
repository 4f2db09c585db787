#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the debug preset with warnings as errors
# and runs every test, then the Windows cross build with its tests under Wine (label "wine"),
# then the debug preset again under AddressSanitizer + UBSan.
# Usage: scripts/test.sh [--fast]   (--fast: debug preset only)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh

jobs=$(nproc)
run_preset() {
  local preset=$1
  echo "== ${preset}: configure and build"
  cmake --preset "$preset" -DKESTROVA_WERROR=ON >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== ${preset}: tests"
  ctest --preset "$preset" -j "$jobs"
}

run_preset default
if [ "${1:-}" != "--fast" ]; then
  run_preset windows
  run_preset asan
fi
