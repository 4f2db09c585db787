#!/usr/bin/env bash
# Runs every benchmark of the project (each bench/*_bench.cc, built in the release preset) and
# prints one table: for each target of bench/targets.txt the figure, the target, the measured
# value, the ratio to its baseline measured in the same run, and whether the target is met or by
# how much it misses; then the benchmarks that have no target yet.
#
# Usage: bench/run.sh [program ...]        e.g. bench/run.sh event_log_bench
# Env:   KESTROVA_BENCH_BUILD_DIR  another release build folder (default: the preset's build-release)
#        KESTROVA_BENCH_JOBS       build jobs (default: all cores)
#        KESTROVA_BENCH_BASELINE_CGILOADER  an earlier front end's program, measured beside the
#                                  built one by http_sessionping_bench (front_end:1)
# Exits 1 when a target is missed or a benchmark program fails, else 0. The JSON results of the
# run stay in <build>/bench-results/.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)

bash scripts/bootstrap.sh
build=${KESTROVA_BENCH_BUILD_DIR:-$source_dir/build-release}
if [ "$build" = "$source_dir/build-release" ]; then
  cmake --preset release >/dev/null
else
  cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_WERROR=OFF >/dev/null
fi

if [ $# -gt 0 ]; then
  programs=("$@")
else
  mapfile -t programs < <(find bench -maxdepth 1 -name '*_bench.cc' -printf '%f\n' | sed 's/\.cc$//' | sort)
fi
cmake --build "$build" --target "${programs[@]}" -- -j "${KESTROVA_BENCH_JOBS:-$(nproc)}"

results="$build/bench-results"
rm -rf "$results"
mkdir -p "$results"
export KESTROVA_BUILD_DIR="$build" KESTROVA_SOURCE_DIR="$source_dir" KESTROVA_NET_ADDRESSES=127.0.0.1
failed=0
for program in "${programs[@]}"; do
  echo "== $program" >&2
  if ! "$build/bench/$program" --benchmark_format=console --benchmark_out="$results/$program.json" \
      --benchmark_out_format=json >"$results/$program.txt" 2>&1; then
    echo "bench/run.sh: $program failed; its output is in $results/$program.txt" >&2
    failed=1
  fi
done

echo
python3 bench/report.py bench/targets.txt "$results" || failed=1
exit $failed
