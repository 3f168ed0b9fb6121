#!/usr/bin/env bash
# The real notifier on a private X server with a window manager, against the
# demo POP3 server on 127.0.0.1:110 of a private network namespace:
#   - the window titled "wyke" shows at once, and is sized to its text once
#     the first check has ended;
#   - it is iconified after the delay and restored by the next check;
#   - a right click opens "wyke config", F1 opens "About";
#   - closing the notifier ends the process with status 0;
#   - an unreachable server shows "Error".
set -euo pipefail
source "$(dirname "$0")/support/e2e.sh"

# --- A maildrop: sized at once, iconified, restored, right click, F1, close ----

mkdir -p "$work/two"
printf 'From: Ann <ann@example.org>\nSubject: Lunch on Friday?\nDate: today\n\nbody\n' >"$work/two/1.eml"
printf 'Subject: =?ISO-8859-1?Q?R=FCckmeldung?=\nFrom: bob@example.org\n' >"$work/two/2.eml"
serve "$work/two"
start "$(settings mail 3 1 From: Subject:)"
first=$(size_of "$window")
[ "$first" != "51x51" ] || fail "the window still has its initial size after the first check"

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

error_reference
start "$(settings unreachable 300 -1 From: Subject:)"
shows_error unreachable
close

# A server that greets only once the window shows: it shows before the first
# check has its answer, and then holds the answer.
serve_python '
client, _ = listener.accept()
for _ in range(3000):
    if os.path.exists(sys.argv[1]):
        break
    time.sleep(0.01)
client.sendall(b"-ERR busy\r\n")
client.close()
' "$work/shown"
show "$(settings slow 300 -1 From: Subject:)"
grep -q 'check ended:' "$work/wyke.out" && fail "the first check ended before the window showed"
touch "$work/shown"
wait_until 10 checks_ended 1 || fail "the first check did not end"
shows_error slow
close
stop_server

# Four lines are four times as tall as one (the content is height + 1 pixels).
one_high=$(( ${reference_size#*x} - 1 ))
four_high=$(( ${four_lines#*x} - 1 ))
(( four_high == 4 * one_high )) || fail "four lines are $four_high pixels high, one is $one_high"
echo "e2e: passed"
