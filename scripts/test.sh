#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the debug preset with warnings as errors
# and runs every test, then the Windows cross build with its tests under Wine (label "wine").
# Usage: scripts/test.sh [--fast | --sanitizers]
#   --fast        the debug preset only
#   --sanitizers  also the debug preset again under AddressSanitizer + UBSan. It is not part of the
#                 default run because a cold sanitizer build alone takes most of the 90 minutes a
#                 2-core CI machine allows. The sanitizer pass leaves out the labels whose cost is
#                 mostly waiting on other programs (a long soak, a booted guest kernel, a browser).
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
mode=${1:-}
if [ "$mode" != "--fast" ]; then
  run_preset windows
fi
if [ "$mode" = "--sanitizers" ]; then
  run_preset asan --label-exclude '^(soak|vm|browser|systemd)$'
fi
echo "== done ($(date -u +%H:%M:%S))"
