#!/usr/bin/env python3
"""A reference client doing the notifier's job with Python's standard library:
log in, STAT, then for each message STAT and TOP n 0, keep the From: and
Subject: lines (continuation lines joined), decode their encoded words.

    reference_check.py PORT USER PASSWORD ROUNDS [HOST CAFILE]

With HOST and CAFILE it speaks TLS from the first byte to HOST (verified
against CAFILE and the system store) and sends STAT once, as the notifier
does over TLS; without, plain text to 127.0.0.1 with STAT before each TOP.

Prints one line: "lines=N seconds_per_check=S" (the best of ROUNDS checks)."""
import poplib
import ssl
import sys
import time
from email.header import decode_header, make_header

PREFIXES = (b"From:", b"Subject:")


def decoded(raw: bytes) -> str:
    text = raw.decode("latin-1")
    try:
        return str(make_header(decode_header(text)))
    except Exception:  # a broken word: show the line as it came
        return text


def connect(port: int, tls):
    if tls is None:
        return poplib.POP3("127.0.0.1", port)
    host, cafile = tls
    context = ssl.create_default_context(cafile=cafile)
    return poplib.POP3_SSL(host, port, context=context)


def check(port: int, user: str, password: str, tls) -> int:
    session = connect(port, tls)
    session.user(user)
    session.pass_(password)
    shown = []
    count = session.stat()[0] if tls else 0
    i = 1
    while i <= (count if tls else session.stat()[0]):
        _, lines, _ = session.top(i, 0)
        keep = False
        for line in lines:
            if keep and line[:1] in (b" ", b"\t"):
                shown[-1] += decoded(line.lstrip(b" \t"))
                continue
            keep = line.startswith(PREFIXES)
            if keep:
                shown.append(decoded(line))
        i += 1
    session.quit()
    return len(shown)


def main() -> None:
    port, user, password, rounds = int(sys.argv[1]), sys.argv[2], sys.argv[3], int(sys.argv[4])
    tls = (sys.argv[5], sys.argv[6]) if len(sys.argv) > 6 else None
    best = float("inf")
    lines = 0
    for _ in range(rounds):
        start = time.perf_counter()
        lines = check(port, user, password, tls)
        best = min(best, time.perf_counter() - start)
    print(f"lines={lines} seconds_per_check={best:.6f}")


if __name__ == "__main__":
    main()
