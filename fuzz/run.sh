#!/usr/bin/env bash
# Runs every fuzz target built in the given folder for a bounded time each,
# starting from the seed corpus kept in fuzz/corpus/<target>/.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Crash inputs outlive the run, so a finding can be replayed.
artifacts=$(cd "$build" && pwd)/fuzz-artifacts
mkdir -p "$artifacts"
status=0
for exe in "$build"/fuzz/fuzz_*; do
  [ -x "$exe" ] || continue
  name=$(basename "$exe"); name=${name#fuzz_}
  mkdir -p "$work/$name"
  [ -d "$here/corpus/$name" ] && cp -r "$here/corpus/$name/." "$work/$name/"
  echo "== fuzz_$name for ${seconds}s"
  # The whole log stays beside the artifacts; shown is its end without the
  # recommended dictionary, so the coverage line and the stats remain visible.
  log="$artifacts/$name.log"
  "$exe" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 \
    -timeout=10 -artifact_prefix="$artifacts/${name}-" "$work/$name" >"$log" 2>&1 || status=1
  grep -v -e '^"' -e 'recommended dictionary' "$log" | tail -n 25
done
exit $status
