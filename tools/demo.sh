#!/usr/bin/env bash
# make demo: the notifier against the bundled demo POP3 server.
#   tools/demo.sh BUILD_DIR
# A temporary settings folder holds an accounts file for the demo server and
# short intervals (a check every 20 s, minimized 5 s after each check). The
# server listens on 127.0.0.1:110: directly when run as root and the port is
# free, otherwise inside a private network namespace together with the
# notifier. With a display the notifier runs until you close it; without one
# it runs under Xvfb for a few seconds and a screenshot is saved.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
wyke="$build/wyke"
server="$build/tools/wyke-demo-server"
[ -x "$wyke" ] && [ -x "$server" ] || { echo "demo: build first (make build)" >&2; exit 1; }

settings=$(mktemp -d)
trap 'rm -rf "$settings"' EXIT
mkdir -p "$settings/Mail"
cat >"$settings/Mail/accounts" <<'ACCOUNTS'
# The bundled demo server.
[account]
host = 127.0.0.1
user = demo
password = demo
ACCOUNTS
chmod 600 "$settings/Mail/accounts"
cat >"$settings/Wyke" <<'CONFIG'
# Wyke config file.
fontsize = 12
checktime = 20
closetime = 5
header = From:
header = Subject:
# End of config file.
CONFIG
export XDG_CONFIG_HOME="$settings"

# Runs the server and the notifier side by side; the server stops with it.
# $1: what to do with the notifier ("interactive" or a screenshot path).
run_pair() {
  local mode=$1 server_pid status=0
  "$server" "$here/demo-maildrop" 127.0.0.1 110 >"$settings/server.out" &
  server_pid=$!
  for _ in $(seq 100); do
    grep -q '^ready' "$settings/server.out" 2>/dev/null && break
    kill -0 "$server_pid" 2>/dev/null || { echo "demo: the demo server did not start" >&2; return 1; }
    sleep 0.05
  done
  if [ "$mode" = interactive ]; then
    echo "demo: the notifier is running; right-click it for the settings, close it to end the demo."
    "$wyke" || status=$?
  else
    "$here/demo-screenshot.sh" "$wyke" "$mode" || status=$?
  fi
  kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null || true
  return $status
}

port_110_free() {
  ! (exec 3<>/dev/tcp/127.0.0.1/110) 2>/dev/null
}

# Where the notifier and the server meet: here as root, else a namespace.
in_place() {
  if [ "$(id -u)" -eq 0 ] && port_110_free; then
    run_pair "$@"
  elif unshare -rn true 2>/dev/null; then
    export -f run_pair
    export wyke server here settings
    unshare -rn bash -c 'ip link set lo up && run_pair "$@"' demo "$@"
  else
    echo "demo: port 110 needs root, or user namespaces for a private network (unshare -rn)" >&2
    return 1
  fi
}

if [ -n "${DISPLAY:-}" ]; then
  export -f in_place port_110_free run_pair
  export wyke server here settings
  in_place interactive
else
  shot="$build/demo.png"
  export -f in_place port_110_free run_pair
  export wyke server here settings
  "$here/with-display.sh" bash -c 'in_place "$1"' demo "$shot"
  echo "demo: screenshot of the notifier saved to $shot"
fi
