# Shared by the end-to-end scripts (tests/e2e_*.sh): source it first thing.
# It re-runs the calling script inside a private network namespace, then on a
# private display with a window manager, and gives the helpers below.
# CTest gives WYKE_BINARY, WYKE_BUILD_DIR and WYKE_SOURCE_DIR. Exit 77: skipped.

: "${WYKE_BINARY:?}" "${WYKE_BUILD_DIR:?}" "${WYKE_SOURCE_DIR:?}"
server_binary="$WYKE_BUILD_DIR/tools/wyke-demo-server"
tools="$WYKE_SOURCE_DIR/tools"

# skip REASON: ends the script as skipped, the reason recorded for the run's
# summary (tools/run-tests.sh) as the test suites record theirs.
skip() {
  local name
  name=$(basename "$0" .sh)
  echo "e2e: SKIPPED, $1" >&2
  [ -d "${WYKE_SKIP_DIR:-}" ] && printf '%s\t%s\n' "$name" "$1" >>"$WYKE_SKIP_DIR/$name.$$"
  exit 77
}

# A command failing where the script checks nothing ends it under set -e: it
# says which, rather than ending the test with no word.
trap 'echo "e2e FAILED: status $? at line $LINENO of $(basename "$0"): $BASH_COMMAND" >&2' ERR

# --- Where it runs: a private network namespace, then a private display -------

case "${1:-}" in
  "")
    for tool in Xvfb openbox xdotool wmctrl xprop xwininfo import compare unshare ip python3; do
      command -v "$tool" >/dev/null || { echo "e2e: $tool is missing (make deps)" >&2; exit 1; }
    done
    [ -x "$WYKE_BINARY" ] && [ -x "$server_binary" ] || { echo "e2e: build wyke and the demo server first" >&2; exit 1; }
    if ! refusal=$(unshare -rn true 2>&1); then
      skip "needs a private network namespace (unshare -rn): unshare: ${refusal##*: }"
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

# A notifier built with the leak checker reports the session bus library's own
# leaks at exit unless told they are not the program's.
export LSAN_OPTIONS="suppressions=$WYKE_SOURCE_DIR/tests/sanitizer/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

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
  echo "windows (id, desktop, pid, title):" >&2
  wmctrl -l -p >&2 || true
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
# serve_with COMMAND...: any server on 127.0.0.1:110 that prints "ready".
server_pid=""
serve_with() {
  rm -f "$work/server.out"  # so that an earlier server's "ready" is not read as this one's
  "$@" >"$work/server.out" 2>&1 &
  server_pid=$!
  pids+=("$server_pid")
  wait_until 10 grep -q '^ready' "$work/server.out" || fail "the server did not start: $(cat "$work/server.out")"
}
serve() { serve_with "$server_binary" "$1" 127.0.0.1 110; }
# serve_python BODY [ARGS...]: a Python server whose BODY (sys.argv holds
# ARGS) accepts connections from `listener`, already listening on port 110.
serve_python() {
  local body=$1
  shift
  serve_with python3 -c '
import os, socket, sys, time
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", 110))
listener.listen(4)
print("ready", flush=True)
'"$body" "$@"
}
stop_server() {
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
}

# show SETTINGS_DIR [SECONDS]: the notifier, with --debug and the options in
# the array wyke_options; its window id in $window once it shows, within
# SECONDS (20 by default). What it prints goes to $work/wyke.out.
# start SETTINGS_DIR [SECONDS]: the same, then waits as long again for the
# first check to end (the window shows "Checking for mail..." until then).
wyke_pid="" window="" wyke_options=()
show() {
  XDG_CONFIG_HOME=$1 "$WYKE_BINARY" --debug "${wyke_options[@]}" >"$work/wyke.out" 2>&1 &
  wyke_pid=$!
  pids+=("$wyke_pid")
  wait_until "${2:-20}" has_window wyke || fail "no notifier window: $(cat "$work/wyke.out")"
  window=$(visible_window wyke)
}
checks_ended() { [ "$(grep -c 'check ended:' "$work/wyke.out")" -ge "$1" ]; }
start() {
  show "$@"
  wait_until "${2:-20}" checks_ended 1 || fail "the first check did not end: $(cat "$work/wyke.out")"
}

# close: as a user closes it; the program must end with status 0.
close() {
  wmctrl -F -c wyke
  wait_until 5 ended "$wyke_pid" || fail "the notifier did not end within 5 s of closing"
  local status=0
  wait "$wyke_pid" || status=$?
  [ "$status" -eq 0 ] || fail "the notifier ended with status $status"
}

# error_reference: the window of a maildrop whose one shown line is "Error",
# as $reference_size and $work/reference.png.
error_reference() {
  mkdir -p "$work/reference"
  printf 'Error\n' >"$work/reference/1.eml"
  serve "$work/reference"
  start "$(settings reference 300 -1 Error)"
  reference_size=$(size_of "$window")
  import -window "$window" "$work/reference.png"
  close
  stop_server
}

# shows_error NAME: the notifier's window holds "Error" and nothing else (the
# window manager and the X server given a moment to catch up).
error_mismatch=""
is_error() {
  local size differing
  size=$(size_of "$window")
  import -window "$window" "$work/$1.png"
  if [ "$size" != "$reference_size" ]; then
    error_mismatch="\"Error\" would be $reference_size, the window is $size"
    return 1
  fi
  differing=$(compare -metric AE "$work/$1.png" "$work/reference.png" null: 2>&1 || true)
  error_mismatch="the window differs from \"Error\" in $differing pixels"
  [ "$differing" = "0" ]
}
shows_error() { wait_until 5 is_error "$1" || fail "$1: $error_mismatch"; }
