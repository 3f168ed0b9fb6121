#!/usr/bin/env python3
"""A reference IMAP client doing the notifier's job with Python's standard
library, over TLS (imaplib.IMAP4_SSL, verified against CAFILE):

    reference_imap.py check PORT USER PASSWORD HOST CAFILE MAILBOX ROUNDS
        EXAMINE MAILBOX, UID SEARCH UNSEEN, UID FETCH of every header, keep the
        From: and Subject: fields (unfolded, decoded with email.header).
        Prints "lines=N seconds_per_check=S cpu_per_check=C" (best of ROUNDS).
    reference_imap.py idle PORT USER PASSWORD HOST CAFILE MAILBOX
        IDLE on MAILBOX (imaplib has no IDLE of its own: sent by hand); prints
        "idling", then at the first EXISTS fetches the newest message's
        Subject and prints it."""
import imaplib
import ssl
import sys
import time

from reference_check import decoded

PREFIXES = (b"from:", b"subject:")


def fields(header: bytes) -> list:
    shown, keep = [], False
    for line in header.split(b"\r\n"):
        if keep and line[:1] in (b" ", b"\t"):
            shown[-1] += decoded(line.lstrip(b" \t"))
            continue
        keep = line.lower().startswith(PREFIXES)
        if keep:
            shown.append(decoded(line))
    return shown


def session(port, user, password, host, cafile, mailbox):
    context = ssl.create_default_context(cafile=cafile)
    m = imaplib.IMAP4_SSL(host, port, ssl_context=context)
    m.login(user, password)
    m.select(mailbox, readonly=True)
    return m


def check(*args) -> int:
    m = session(*args)
    _, found = m.uid("SEARCH", "UNSEEN")
    uids = found[0].split()
    shown = []
    if uids:
        _, data = m.uid("FETCH", b",".join(uids), "(UID BODY.PEEK[HEADER])")
        for part in data:
            if isinstance(part, tuple):
                shown += fields(part[1])
    m.logout()
    return len(shown)


def idle(*args) -> None:
    m = session(*args)
    tag = m._new_tag()
    m.send(tag + b" IDLE\r\n")
    m.readline()  # "+ idling"
    print("idling", flush=True)
    while b"EXISTS" not in m.readline():
        pass
    m.send(b"DONE\r\n")
    while not m.readline().startswith(tag):
        pass
    _, data = m.fetch("*", "(BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
    print(fields(data[0][1])[0], flush=True)
    m.logout()


def main() -> None:
    mode, port, user, password, host, cafile, mailbox = sys.argv[1], int(sys.argv[2]), *sys.argv[3:8]
    args = (port, user, password, host, cafile, mailbox)
    if mode == "idle":
        idle(*args)
        return
    best, best_cpu, lines = float("inf"), float("inf"), 0
    for _ in range(int(sys.argv[8])):
        start, start_cpu = time.perf_counter(), time.process_time()
        lines = check(*args)
        best = min(best, time.perf_counter() - start)
        best_cpu = min(best_cpu, time.process_time() - start_cpu)
    print(f"lines={lines} seconds_per_check={best:.6f} cpu_per_check={best_cpu:.6f}")


if __name__ == "__main__":
    main()
