#!/usr/bin/env bash
# The notifier showing a long list: a maildrop of MESSAGES messages (default
# 2,000) on the demo server, each with a From and a Subject line. Time from
# launch to the window shown (the first check runs before it shows), and the
# peak resident memory once it has shown and painted. Prints a Markdown row
# per binary, so that builds can be compared in one run.
#   bench/long_list.sh DEMO_SERVER NAME=WYKE_BINARY...   (under tools/with-display.sh,
#   in a network namespace of its own: the demo server takes port 110)
set -euo pipefail
server=$1
shift
messages=${MESSAGES:-2000}
runs=${RUNS:-5}
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/drop" "$work/settings/Mail"
for i in $(seq "$messages"); do
  printf 'From: Sender %d <sender%d@example.org>\nSubject: Weekly report %d of the northern region\n\nbody\n' \
    "$i" "$i" "$i" >"$work/drop/$i.eml"
done
printf '[account]\nhost = 127.0.0.1\nuser = demo\npassword = demo\n' >"$work/settings/Mail/accounts"
chmod 600 "$work/settings/Mail/accounts"
printf 'fontsize = 12\nchecktime = 300\nclosetime = 0\nheader = From:\nheader = Subject:\n' >"$work/settings/Wyke"

"$server" "$work/drop" 127.0.0.1 110 >"$work/server.out" 2>&1 &
pids+=($!)
for _ in $(seq 1000); do grep -q '^ready' "$work/server.out" 2>/dev/null && break; sleep 0.01; done

now_ms() { date +%s%3N; }

# one WYKE: "show_ms peak_kib" of one launch.
one() {
  local t0 pid shown=""
  t0=$(now_ms)
  XDG_CONFIG_HOME="$work/settings" "$1" >/dev/null 2>&1 &
  pid=$!
  pids+=("$pid")
  for _ in $(seq 6000); do
    shown=$(xdotool search --onlyvisible --pid "$pid" --name '^wyke$' 2>/dev/null | head -n 1 || true)
    [ -n "$shown" ] && break
    sleep 0.005
  done
  local ms=$(( $(now_ms) - t0 ))
  sleep 1  # painted and settled
  echo "$ms $(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status")"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}

echo "| build | messages | start to window shown, median of $runs (ms) | peak resident memory, median (KiB) |"
echo "|---|---|---|---|"
for named in "$@"; do
  name=${named%%=*} binary=${named#*=}
  for _ in $(seq "$runs"); do one "$binary"; done >"$work/runs"
  middle=$(( (runs + 1) / 2 ))
  ms=$(cut -d ' ' -f 1 "$work/runs" | sort -n | sed -n "${middle}p")
  kib=$(cut -d ' ' -f 2 "$work/runs" | sort -n | sed -n "${middle}p")
  echo "| $name | $messages | $ms | $kib |"
done
