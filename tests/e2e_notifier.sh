#!/usr/bin/env bash
# The real notifier on a private X server with a window manager, against the
# demo POP3 server on 127.0.0.1:110 of a private network namespace:
#   - the window titled "wyke" first appears already sized to its text;
#   - it is iconified after the delay and restored by the next check;
#   - a right click opens "wyke config", F1 opens "About";
#   - closing the notifier ends the process with status 0;
#   - an unreachable server shows "Error".
# CTest gives WYKE_BINARY, WYKE_BUILD_DIR and WYKE_SOURCE_DIR. Exit 77: skipped.
set -euo pipefail

: "${WYKE_BINARY:?}" "${WYKE_BUILD_DIR:?}" "${WYKE_SOURCE_DIR:?}"
server_binary="$WYKE_BUILD_DIR/tools/wyke-demo-server"
tools="$WYKE_SOURCE_DIR/tools"

# --- Where it runs: a private network namespace, then a private display -------

case "${1:-}" in
  "")
    for tool in Xvfb openbox xdotool wmctrl xprop xwininfo import compare unshare ip; do
      command -v "$tool" >/dev/null || { echo "e2e: $tool is missing (make deps)" >&2; exit 1; }
    done
    [ -x "$WYKE_BINARY" ] && [ -x "$server_binary" ] || { echo "e2e: build wyke and the demo server first" >&2; exit 1; }
    if ! unshare -rn true 2>/dev/null; then
      echo "e2e: SKIPPED, needs a private network namespace (unshare -rn)" >&2
      exit 77
    fi
    exec unshare -rn bash "$0" --in-namespace
    ;;
  --in-namespace)
    ip link set lo up
    exec "$tools/with-display.sh" bash "$0" --on-display
    ;;
  --on-display) ;;
  *) echo "e2e: unknown phase $1" >&2; exit 2 ;;
esac

# --- Helpers ------------------------------------------------------------------------

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "e2e FAILED: $*" >&2
  exit 1
}

now_ms() { echo $(( ${EPOCHREALTIME/./} / 1000 )); }

# wait_until SECONDS COMMAND...: true as soon as COMMAND succeeds.
wait_until() {
  local deadline=$(( $(now_ms) + $1 * 1000 ))
  shift
  until "$@"; do
    (( $(now_ms) < deadline )) || return 1
    sleep 0.02
  done
}

# The notifier's own windows: the window manager may name one of its own "wyke".
visible_window() { xdotool search --onlyvisible --pid "$wyke_pid" --name "^$1\$" 2>/dev/null | head -n 1; }
has_window() { [ -n "$(visible_window "$1")" ]; }
wm_state() { xprop -id "$1" WM_STATE 2>/dev/null | sed -n 's/.*window state: //p'; }
state_is() { [ "$(wm_state "$1")" = "$2" ]; }
size_of() { xwininfo -id "$1" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }'; }
ended() { ! kill -0 "$1" 2>/dev/null; }

# settings NAME CHECKTIME CLOSETIME HEADER...: a settings folder with the account.
settings() {
  local dir="$work/$1" check=$2 close=$3
  shift 3
  mkdir -p "$dir/Mail"
  printf '[account]\nhost = 127.0.0.1\nuser = demo\npassword = demo\n' >"$dir/Mail/accounts"
  chmod 600 "$dir/Mail/accounts"
  {
    printf '# Wyke config file.\nfontsize = 12\nchecktime = %s\nclosetime = %s\n' "$check" "$close"
    printf 'header = %s\n' "$@"
    printf '# End of config file.\n'
  } >"$dir/Wyke"
  echo "$dir"
}

# serve MAILDROP_DIR: the demo server on 127.0.0.1:110 until stopped.
server_pid=""
serve() {
  rm -f "$work/server.out"  # so that an earlier server's "ready" is not read as this one's
  "$server_binary" "$1" 127.0.0.1 110 >"$work/server.out" 2>&1 &
  server_pid=$!
  pids+=("$server_pid")
  wait_until 10 grep -q '^ready' "$work/server.out" || fail "the demo server did not start: $(cat "$work/server.out")"
}
stop_server() {
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
}

# start SETTINGS_DIR: the notifier; its window id in $window once it shows.
wyke_pid="" window=""
start() {
  XDG_CONFIG_HOME=$1 "$WYKE_BINARY" >"$work/wyke.out" 2>&1 &
  wyke_pid=$!
  pids+=("$wyke_pid")
  wait_until 20 has_window wyke || fail "no notifier window: $(cat "$work/wyke.out")"
  window=$(visible_window wyke)
}

# close: as a user closes it; the program must end with status 0.
close() {
  wmctrl -F -c wyke
  wait_until 5 ended "$wyke_pid" || fail "the notifier did not end within 5 s of closing"
  local status=0
  wait "$wyke_pid" || status=$?
  [ "$status" -eq 0 ] || fail "the notifier ended with status $status"
}

# --- A maildrop: sized at once, iconified, restored, right click, F1, close ----

mkdir -p "$work/two"
printf 'From: Ann <ann@example.org>\nSubject: Lunch on Friday?\nDate: today\n\nbody\n' >"$work/two/1.eml"
printf 'Subject: =?ISO-8859-1?Q?R=FCckmeldung?=\nFrom: bob@example.org\n' >"$work/two/2.eml"
serve "$work/two"
start "$(settings mail 3 1 From: Subject:)"
first=$(size_of "$window")
[ "$first" != "51x51" ] || fail "the window first appeared at its initial size, before the check"

wait_until 10 state_is "$window" Iconic || fail "not iconified after the delay (state: $(wm_state "$window"))"
wait_until 10 state_is "$window" Normal || fail "not restored by the next check"
[ "$(size_of "$window")" = "$first" ] || fail "the size changed from $first to $(size_of "$window") for the same mail"

# The window is minimized again a second after each check: click while it shows.
for _ in 1 2 3 4 5; do
  wait_until 10 state_is "$window" Normal || break
  xdotool mousemove --window "$window" 4 4 click 3
  wait_until 2 has_window "wyke config" && break
done
has_window "wyke config" || fail "a right click opened no settings window"

# The settings window pauses the cycle, so the notifier stays shown.
xdotool windowactivate --sync "$window" 2>/dev/null || true
xdotool key F1
wait_until 5 has_window About || fail "F1 opened no About box"
four_lines=$(size_of "$window")
close
stop_server

# --- An unreachable server: "Error", drawn as the same text would be ----------

start "$(settings unreachable 300 0 From: Subject:)"
error_size=$(size_of "$window")
import -window "$window" "$work/error.png"
close

# A server that greets only after a second: the window must not show before.
rm -f "$work/server.out"
python3 -c '
import socket, sys, time
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", 110))
listener.listen(1)
print("ready", flush=True)
client, _ = listener.accept()
time.sleep(1)
open(sys.argv[1], "w").close()
client.sendall(b"-ERR busy\r\n")
client.close()
' "$work/greeted" >"$work/server.out" 2>&1 &
server_pid=$!
pids+=("$server_pid")
wait_until 10 grep -q '^ready' "$work/server.out" || fail "the slow server did not start: $(cat "$work/server.out")"
start "$(settings slow 300 0 From: Subject:)"
[ -e "$work/greeted" ] || fail "the window showed before the first check had its answer"
[ "$(size_of "$window")" = "$error_size" ] || fail "a refused greeting is not shown as \"Error\""
close
stop_server

mkdir -p "$work/reference"
printf 'Error\n' >"$work/reference/1.eml"
serve "$work/reference"
start "$(settings reference 300 0 Error)"
reference_size=$(size_of "$window")
import -window "$window" "$work/reference.png"
close
stop_server

[ "$error_size" = "$reference_size" ] || fail "\"Error\" would be $reference_size, the window is $error_size"
differing=$(compare -metric AE "$work/error.png" "$work/reference.png" null: 2>&1 || true)
[ "$differing" = "0" ] || fail "the unreachable server's window differs from \"Error\" in $differing pixels"

# Four lines are four times as tall as one (the content is height + 1 pixels).
one_high=$(( ${error_size#*x} - 1 ))
four_high=$(( ${four_lines#*x} - 1 ))
(( four_high == 4 * one_high )) || fail "four lines are $four_high pixels high, one is $one_high"
echo "e2e: passed"
