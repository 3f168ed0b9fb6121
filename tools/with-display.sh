#!/usr/bin/env bash
# Runs a command under a private X server (Xvfb) with a window manager
# (openbox), so the notifier can be minimized and restored as on a desktop.
#   tools/with-display.sh COMMAND [ARGS...]
# The command sees DISPLAY and a private XDG_RUNTIME_DIR; the X server picks a
# free display number itself. Only the processes started here are stopped.
set -euo pipefail

runtime=$(mktemp -d)
chmod 700 "$runtime"
xvfb_pid="" wm_pid=""
# How a stopped process ended is not this script's status: under set -e a
# window manager ended by the signal would end the clean-up early, with 143
# and the X server left running.
stop() {
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
cleanup() {
  stop "$wm_pid"
  stop "$xvfb_pid"
  rm -rf "$runtime"
}
trap cleanup EXIT

exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1024x768x24 -nolisten tcp -auth /dev/null \
  >"$runtime/xvfb.log" 2>&1 &
xvfb_pid=$!
# The X server writes the number and the line end separately: a read that
# times out between the two keeps the number in `part`, which counts. Up to
# 30 s: it starts in well under one, but not on a machine under load.
display="" part=""
for _ in $(seq 300); do
  if read -r -t 0.1 -u "$displayfd" part; then display+=$part; break; fi
  display+=$part
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$runtime/xvfb.log" >&2; echo "Xvfb did not start" >&2; exit 1; }
done
[ -n "$display" ] || { cat "$runtime/xvfb.log" >&2; echo "Xvfb gave no display number" >&2; exit 1; }
export DISPLAY=":$display" XDG_RUNTIME_DIR="$runtime"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

# The system's openbox settings without the iconify animation: a window is
# where it belongs as soon as the window manager says it is shown, so a
# script can click it at once.
rc=/etc/xdg/openbox/rc.xml
if [ -r "$rc" ]; then
  sed 's|<animateIconify>yes</animateIconify>|<animateIconify>no</animateIconify>|' "$rc" >"$runtime/openbox.xml"
else
  printf '%s\n' '<?xml version="1.0" encoding="UTF-8"?>' \
    '<openbox_config xmlns="http://openbox.org/3.4/rc">' \
    '  <theme><animateIconify>no</animateIconify></theme>' '</openbox_config>' >"$runtime/openbox.xml"
fi
# Openbox runs its start-up command once it manages windows.
openbox --sm-disable --config-file "$runtime/openbox.xml" --startup "touch $runtime/wm-ready" \
  >"$runtime/openbox.log" 2>&1 &
wm_pid=$!
for _ in $(seq 400); do
  [ -e "$runtime/wm-ready" ] && break
  kill -0 "$wm_pid" 2>/dev/null || break
  sleep 0.05
done
[ -e "$runtime/wm-ready" ] || { cat "$runtime/openbox.log" >&2; echo "openbox did not start" >&2; exit 1; }

status=0
"$@" || status=$?
exit $status
