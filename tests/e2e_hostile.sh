#!/usr/bin/env bash
# The real notifier against servers that misbehave, on a private display in a
# private network namespace: one that answers with garbage and one that says
# nothing at all. Each must give a window holding "Error" (the silent one once
# the receive time-out of 20 s has passed), and the notifier must still
# close with status 0.
set -euo pipefail
source "$(dirname "$0")/support/e2e.sh"

# hostile MODE: on 127.0.0.1:110, every connection gets garbage for a
# greeting and for every answer ("garbage"), or nothing at all ("silent").
hostile() {
  serve_python '
while True:
    client, _ = listener.accept()
    garbage = sys.argv[1] == "garbage"
    if garbage:
        client.sendall(b"\x16\x03\x01\x00\xff garbage\r\n")
    while client.recv(4096):
        if garbage:
            client.sendall(b"\x00\xff what?\r\n")
    client.close()
' "$1"
}

# Time-outs of the binary itself, beyond which its first window must show.
receive_timeout=20

error_reference

for mode in garbage silent; do
  hostile "$mode"
  started=$(now_ms)
  start "$(settings "$mode" 300 -1 From: Subject:)" $(( receive_timeout + 30 ))
  echo "e2e: $mode server: first window after $(( $(now_ms) - started )) ms"
  shows_error "$mode"
  close
  stop_server
done
echo "e2e: passed"
