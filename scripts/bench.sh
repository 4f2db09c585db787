#!/usr/bin/env bash
# Builds the release preset and runs every benchmark (or those named), printing their figures.
# Usage: scripts/bench.sh [bench name ...]     e.g. scripts/bench.sh variable_table_bench
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"

if [ $# -gt 0 ]; then
  benches=("$@")
else
  mapfile -t benches < <(find build-release/bench -maxdepth 1 -type f -executable -name '*_bench' -printf '%f\n' | sort)
fi
for b in "${benches[@]}"; do
  echo "== $b"
  "build-release/bench/$b" --benchmark_counters_tabular=true
done
