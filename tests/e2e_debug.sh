#!/usr/bin/env bash
# The real notifier with --debug, on a private display in a private network
# namespace: its stderr shows each check's exchange, time-stamped, with the
# password replaced, while the server gets the real one.
set -euo pipefail
source "$(dirname "$0")/support/e2e.sh"

password='Kv3-distinctive-e2e-PASSWORD'

# Accepts any login and reports an empty maildrop; writes each command line
# it receives to the file named in sys.argv[1].
serve_python '
log = open(sys.argv[1], "w")
while True:
    client, _ = listener.accept()
    stream = client.makefile("rwb", buffering=0)
    stream.write(b"+OK ready\r\n")
    for line in stream:
        log.write(line.decode("latin-1").rstrip("\r\n") + "\n")
        log.flush()
        stream.write(b"+OK 0 0\r\n" if line.startswith(b"STAT") else b"+OK\r\n")
        if line.startswith(b"QUIT"):
            break
    stream.close()
    client.close()
' "$work/server.log"

settings_dir=$(settings debug 300 -1 From: Subject:)
printf '[account]\nhost = 127.0.0.1\nuser = demo\npassword = %s\n' "$password" >"$settings_dir/Mail/accounts"
wyke_options=(--debug)
start "$settings_dir"
wait_until 10 grep -q 'C: QUIT' "$work/wyke.out" || fail "no QUIT in the debug log: $(cat "$work/wyke.out")"
close

grep -qx "PASS $password" "$work/server.log" || fail "the server did not get the password: $(cat "$work/server.log")"
! grep -q "$password" "$work/wyke.out" || fail "the debug log shows the password"
for line in 'C: USER demo' 'C: PASS \*\*\*' 'S: \+OK ready' 'C: STAT' 'S: \+OK 0 0'; do
  grep -Eq "^wyke: [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} $line\$" "$work/wyke.out" ||
    fail "no time-stamped '$line' in the debug log: $(cat "$work/wyke.out")"
done
echo "e2e: passed"
