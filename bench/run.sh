#!/usr/bin/env bash
# Runs every benchmark built in the given build folder.
set -euo pipefail
build=${1:-build-bench}
status=0
for exe in "$build"/bench/bench_*; do
  [ -x "$exe" ] || continue
  echo "== $(basename "$exe")"
  "$exe" --benchmark_counters_tabular=true || status=1
done
exit $status
