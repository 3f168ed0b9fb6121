#!/usr/bin/env bash
# Starts the notifier on the current (private) display, waits until its
# window shows, saves a screenshot of the screen, then closes the window as a
# user would and waits for the program to end.
#   tools/demo-screenshot.sh WYKE_BINARY SCREENSHOT.png
set -euo pipefail
wyke=$1 shot=$2

"$wyke" &
pid=$!
window=""
for _ in $(seq 200); do
  window=$(xdotool search --onlyvisible --name '^wyke$' 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  kill -0 "$pid" 2>/dev/null || { echo "demo: the notifier ended early" >&2; exit 1; }
  sleep 0.1
done
[ -n "$window" ] || { echo "demo: no notifier window after 20 s" >&2; kill "$pid"; exit 1; }
sleep 2  # let the window manager place and paint it
import -window root "$shot"
wmctrl -F -c wyke
for _ in $(seq 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  echo "demo: the notifier did not end after its window was closed" >&2
  kill "$pid"
  exit 1
fi
wait "$pid"
