#!/usr/bin/env bash
# Runs a build's tests with ctest, then counts the skipped test cases by
# reason, so that a run whose cases did not all run never reads as a full
# pass. With CI=true a skip fails the run unless WYKE_ALLOWED_SKIPS (set by
# .ci/run) allows that test, one "NAME: why" a line.
#   tools/run-tests.sh BUILD_DIR [CTEST_OPTIONS...]
set -uo pipefail
build=$1
shift
skips="$build/skipped"  # the suites write here (tests/CMakeLists.txt: WYKE_SKIP_DIR)
rm -rf "$skips"
mkdir -p "$skips"

status=0
(cd "$build" && ctest --output-on-failure "$@") || status=$?

records=$(cat "$skips"/* 2>/dev/null)
if [ -z "$records" ]; then
  echo "No test case skipped."
else
  # "N test cases skipped: REASON", the most frequent reason first.
  cut -f 2- <<<"$records" | sort | uniq -c | sort -rn |
    while read -r count reason; do
      (( count == 1 )) && noun="test case" || noun="test cases"
      echo "$count $noun skipped: $reason"
    done
fi

if [ "${CI:-}" = true ] && [ -n "$records" ]; then
  allowed=$(sed -n 's/^[[:space:]]*\([^:[:space:]]*\):.*/\1/p' <<<"${WYKE_ALLOWED_SKIPS:-}")
  while IFS=$'\t' read -r name reason; do
    grep -qxF -- "$name" <<<"$allowed" && continue
    echo "CI: $name was skipped ($reason); .ci/run does not allow it to skip" >&2
    status=1
  done <<<"$records"
fi
exit $status
