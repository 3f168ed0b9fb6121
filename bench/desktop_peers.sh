#!/usr/bin/env bash
# The notifier as a desktop resident beside xbiff, under the same private X
# server: time from start to the first window shown (the notifier's POP3
# server unreachable), then resident memory and CPU over IDLE_SECONDS of idle
# ticking. Prints a Markdown table.
#   bench/desktop_peers.sh WYKE_BINARY   (run it under tools/with-display.sh)
set -euo pipefail
wyke=$1
idle=${IDLE_SECONDS:-60}
settings=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$settings"
}
trap cleanup EXIT

# Nothing listens on port 110 here, so every check fails at once with "Error".
mkdir -p "$settings/Mail"
printf '[account]\nhost = 127.0.0.1\nuser = nobody\npassword = none\n' >"$settings/Mail/accounts"
chmod 600 "$settings/Mail/accounts"

now_ms() { date +%s%3N; }

# start_and_time NAME TITLE COMMAND...: starts COMMAND, waits for a visible
# window titled TITLE; sets started_pid and startup_ms.
start_and_time() {
  local title=$2; shift 2
  local t0; t0=$(now_ms)
  "$@" >/dev/null 2>&1 &
  started_pid=$!
  pids+=("$started_pid")
  for _ in $(seq 2000); do
    xdotool search --onlyvisible --name "^${title}\$" >/dev/null 2>&1 && break
    sleep 0.005
  done
  startup_ms=$(( $(now_ms) - t0 ))
}

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }

measure() {  # NAME TITLE COMMAND...
  local name=$1
  start_and_time "$@"
  local pid=$started_pid before after hz
  hz=$(getconf CLK_TCK)
  before=$(ticks "$pid")
  sleep "$idle"
  after=$(ticks "$pid")
  local cpu_ms=$(( (after - before) * 1000 / hz ))
  awk -v n="$name" -v s="$startup_ms" -v r="$(rss_kib "$pid")" -v c="$cpu_ms" -v i="$idle" \
    'BEGIN { printf "| %s | %d | %d | %d | %.3f%% |\n", n, s, r, c, c * 100 / (i * 1000) }'
  kill "$pid"; wait "$pid" 2>/dev/null || true
}

echo "| program | start to first window (ms) | resident memory (KiB) | CPU over ${idle} s idle (ms) | CPU share |"
echo "|---|---|---|---|---|"
XDG_CONFIG_HOME=$settings measure wyke wyke "$wyke"
measure xbiff xbiff xbiff -file "$settings/no-such-mailbox" -update 1
