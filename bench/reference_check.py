#!/usr/bin/env python3
"""A reference client doing the notifier's job with Python's standard library:
log in, STAT, then for each message STAT and TOP n 0, keep the From: and
Subject: lines (continuation lines joined), decode their encoded words.

    reference_check.py PORT USER PASSWORD ROUNDS

Prints one line: "lines=N seconds_per_check=S" (the best of ROUNDS checks)."""
import poplib
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


def check(port: int, user: str, password: str) -> int:
    session = poplib.POP3("127.0.0.1", port)
    session.user(user)
    session.pass_(password)
    shown = []
    i = 1
    while i <= session.stat()[0]:
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
    best = float("inf")
    lines = 0
    for _ in range(rounds):
        start = time.perf_counter()
        lines = check(port, user, password)
        best = min(best, time.perf_counter() - start)
    print(f"lines={lines} seconds_per_check={best:.6f}")


if __name__ == "__main__":
    main()
