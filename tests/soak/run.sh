#!/usr/bin/env bash
# The soak test by hand: builds what it needs in one of the test presets and runs it for as long
# as asked (tests/soak/soak_test.cc says what it checks).
#
# Usage: tests/soak/run.sh [MINUTES] [PRESET]
#   MINUTES  how long the clients and faults run (default 30)
#   PRESET   default (build/) or asan (build-asan/, reports of AddressSanitizer and UBSan fail
#            the run); default: asan
# Environment: KESTROVA_SOAK_RESTART_SECONDS (default 180 here), KESTROVA_SOAK_BURST,
# KESTROVA_SOAK_SEED, KESTROVA_SOAK_KEEP (a folder for the event log, the module's files and the
# output of every server run; default soak-keep/ in the build folder).
set -euo pipefail
cd "$(dirname "$0")/../.."
minutes=${1:-30}
preset=${2:-asan}
case "$preset" in
  default) build=build ;;
  asan) build=build-asan ;;
  *)
    echo "run.sh: preset must be default or asan" >&2
    exit 2
    ;;
esac

bash scripts/bootstrap.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" --target soak_test server raidsim Brivo cgiloader qcli

keep=${KESTROVA_SOAK_KEEP:-$PWD/$build/soak-keep}
rm -rf "$keep"
export KESTROVA_SOAK_MINUTES=$minutes
export KESTROVA_SOAK_RESTART_SECONDS=${KESTROVA_SOAK_RESTART_SECONDS:-180}
export KESTROVA_SOAK_KEEP=$keep
export KESTROVA_BUILD_DIR=$PWD/$build
export KESTROVA_SOURCE_DIR=$PWD
export KESTROVA_NET_ADDRESSES=127.0.0.1
if [ "$preset" = asan ]; then
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
echo "soak: $minutes minutes on $build; kept files in $keep"
"$build/tests/soak_test"
