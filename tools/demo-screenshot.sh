#!/usr/bin/env bash
# Starts the notifier on the current (private) display, waits until its
# window shows, saves a picture of it with its frame and a little of the
# desktop around it, then closes the window as a user would and waits for the
# program to end.
#   tools/demo-screenshot.sh WYKE_BINARY SCREENSHOT.png
set -euo pipefail
wyke=$1 shot=$2
margin=12

"$wyke" &
pid=$!
window=""
for _ in $(seq 200); do
  # Its own window: the window manager may name one of its own "wyke".
  window=$(xdotool search --onlyvisible --pid "$pid" --name '^wyke$' 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  kill -0 "$pid" 2>/dev/null || { echo "demo: the notifier ended early" >&2; exit 1; }
  sleep 0.1
done
[ -n "$window" ] || { echo "demo: no notifier window after 20 s" >&2; kill "$pid"; exit 1; }
sleep 1  # let it paint

# The client area on the screen, and the frame the window manager put round it.
eval "$(xwininfo -id "$window" | awk '
  /Absolute upper-left X:/ { print "x=" $4 } /Absolute upper-left Y:/ { print "y=" $4 }
  /Width:/ { print "w=" $2 } /Height:/ { print "h=" $2 }')"
read -r left right top bottom < <(xprop -id "$window" _NET_FRAME_EXTENTS 2>/dev/null |
  sed -n 's/.*= //p' | tr -d ',' || true)
left=${left:-0} right=${right:-0} top=${top:-0} bottom=${bottom:-0}
x0=$(( x - left - margin )) y0=$(( y - top - margin ))
(( x0 < 0 )) && x0=0
(( y0 < 0 )) && y0=0
import -window root -crop "$(( w + left + right + 2 * margin ))x$(( h + top + bottom + 2 * margin ))+$x0+$y0" \
  +repage "$shot"

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
