#!/usr/bin/env bash
# Runs the fuzz targets of fuzz/ (libFuzzer, clang, ASan + UBSan) in their own build folder.
#
# Usage:
#   scripts/fuzz.sh TARGET [SECONDS]   build TARGET and fuzz it for SECONDS (default 60) from its
#                                      corpus; prints the run's executions and speed
#   scripts/fuzz.sh --list             the targets
#   scripts/fuzz.sh --replay           run every stored corpus once through its target (the
#                                      libFuzzer build, a few seconds in all)
#
# The build folder is build-fuzz beside the sources (env KESTROVA_FUZZ_BUILD_DIR names another).
# Inputs a run adds go to <build>/corpus/TARGET, never into the repository; a crash is written to
# <build>/artifacts/TARGET/ and the run stops with a non-zero status. Keep a crashing input in
# fuzz/corpus/TARGET/ (named crash-<what>) once the product is fixed, so the replay test runs it.
# The ordinary test suite replays the corpora with the gcc build (ctest -R fuzz_replay).
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)
build=${KESTROVA_FUZZ_BUILD_DIR:-$source_dir/build-fuzz}

targets() {
  find fuzz -maxdepth 1 -name '*_fuzz.cc' -printf '%f\n' | sed 's/_fuzz\.cc$//' | sort
}

configure() {
  bash scripts/bootstrap.sh
  if [ ! -f "$build/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DKESTROVA_FUZZ=ON -DKESTROVA_BUILD_TESTS=OFF -DKESTROVA_BUILD_BENCH=OFF >/dev/null
  fi
}

build_targets() {
  configure
  local names=()
  for t in "$@"; do names+=("${t}_fuzz"); done
  cmake --build "$build" --target "${names[@]}" -- -j "${KESTROVA_FUZZ_JOBS:-2}"
}

# Common libFuzzer options: no leak check between inputs of the long-lived fixtures, a time-out
# per input that a slow path must stay under, a memory ceiling below the machine's.
fuzz_options=(-timeout=25 -rss_limit_mb=2048 -detect_leaks=0 -print_final_stats=1)

case "${1:-}" in
  "" | -h | --help)
    sed -n '2,/^set /p' "$0" | grep '^#' | sed 's/^# \{0,1\}//'
    exit 0
    ;;
  --list)
    targets
    ;;
  --replay)
    mapfile -t all < <(targets)
    build_targets "${all[@]}"
    for t in "${all[@]}"; do
      echo "== $t"
      "$build/fuzz/${t}_fuzz" "${fuzz_options[@]}" -runs=0 "$source_dir/fuzz/corpus/$t" 2>&1 | grep -E '^(INFO: seed corpus|#[0-9]+[[:space:]]+(INITED|DONE))' || true
      test "${PIPESTATUS[0]}" -eq 0
    done
    echo "replay: ${#all[@]} corpora ran"
    ;;
  *)
    target=$1
    seconds=${2:-60}
    if ! targets | grep -qx "$target"; then
      echo "fuzz.sh: no target $target (see --list)" >&2
      exit 2
    fi
    build_targets "$target"
    mkdir -p "$build/corpus/$target" "$build/artifacts/$target"
    "$build/fuzz/${target}_fuzz" "${fuzz_options[@]}" -max_total_time="$seconds" \
      -artifact_prefix="$build/artifacts/$target/" "$build/corpus/$target" "$source_dir/fuzz/corpus/$target"
    ;;
esac
