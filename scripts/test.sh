#!/usr/bin/env bash
# The whole test suite: installs what is missing, runs the source checks (scripts/check.sh),
# builds the debug preset with warnings as errors and runs every test, then the Windows cross
# build with its tests under Wine (label "wine").
# Usage: scripts/test.sh [--fast | --sanitizers | --nightly]
#   --fast        the checks and the debug preset only
#   --sanitizers  also the debug preset again under AddressSanitizer + UBSan. It is not part of the
#                 default run because a cold sanitizer build alone takes most of the 90 minutes a
#                 2-core CI machine allows. The sanitizer pass leaves out the labels whose cost is
#                 mostly waiting on other programs (a long soak, a booted guest kernel, a browser).
#   --nightly     the sanitizer passes alone (scripts/nightly.sh): the AddressSanitizer pass above,
#                 then the unit tests (label "unit") under ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh

jobs=$(nproc)
# Most Linux tests wait on what they start (servers, the simulator, time-outs, peers) far more than
# they compute, so twice as many run at once as there are cores. The tests that load the cores
# themselves (browsers, the guest kernel, the soak, the floods) run alone (RUN_SERIAL).
test_jobs=$((jobs * 2))
# run_preset PRESET TARGET TEST_JOBS [ctest arguments]: TARGET "all" builds everything.
run_preset() {
  local preset=$1 target=$2 parallel=$3
  shift 3
  echo "== ${preset}: configure and build ${target} ($(date -u +%H:%M:%S))"
  cmake --preset "$preset" -DKESTROVA_WERROR=ON >/dev/null
  cmake --build --preset "$preset" -j "$jobs" --target "$target"
  echo "== ${preset}: tests ($(date -u +%H:%M:%S))"
  ctest --preset "$preset" -j "$parallel" "$@"
}

mode=${1:-}
if [ "$mode" != "--nightly" ]; then
  # The format check covers the changed files until the tree as a whole is formatted; then "all".
  KESTROVA_FORMAT_CHECK=${KESTROVA_FORMAT_CHECK:-changed} bash scripts/check.sh
  run_preset default all "$test_jobs"
  if [ "$mode" != "--fast" ]; then
    run_preset windows all "$jobs"
  fi
fi
if [ "$mode" = "--sanitizers" ] || [ "$mode" = "--nightly" ]; then
  run_preset asan all "$jobs" --label-exclude '^(soak|vm|browser|systemd)$'
fi
if [ "$mode" = "--nightly" ]; then
  run_preset tsan unit_tests "$jobs" --label-regex '^unit$'
fi
echo "== done ($(date -u +%H:%M:%S))"
