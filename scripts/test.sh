#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the debug preset with warnings as errors
# and runs every test, then the Windows cross build with its tests under Wine (label "wine"),
# then the debug preset again under AddressSanitizer + UBSan. The sanitizer pass leaves out the
# labels whose cost is mostly waiting on other programs (a long soak, a booted guest kernel, a
# browser): they ran once above, and the time they would take twice would push the whole run past
# what a 2-core CI machine allows.
# Usage: scripts/test.sh [--fast]   (--fast: debug preset only)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh

jobs=$(nproc)
run_preset() {
  local preset=$1
  shift
  echo "== ${preset}: configure and build ($(date -u +%H:%M:%S))"
  cmake --preset "$preset" -DKESTROVA_WERROR=ON >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== ${preset}: tests ($(date -u +%H:%M:%S))"
  ctest --preset "$preset" -j "$jobs" "$@"
}

run_preset default
if [ "${1:-}" != "--fast" ]; then
  run_preset windows
  run_preset asan --label-exclude '^(soak|vm|browser)$'
fi
echo "== done ($(date -u +%H:%M:%S))"
