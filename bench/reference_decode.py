#!/usr/bin/env python3
"""Python's email.header doing the decoder's job on the fields that
bench_mimetool decodes: str(make_header(decode_header(line))).

    reference_decode.py SECONDS

Prints one line per case: "NAME lines_per_second"."""
import sys
import time
from email.header import decode_header, make_header


def folded_subject() -> str:
    line = "Subject:"
    while len(line) < 880:
        line += " =?UTF-8?B?5pel5pys6Kqe44Gu5Lu25ZCN?= =?ISO-8859-1?Q?R=E9sum=E9_du_jour?= plain words"
    return line


CASES = [
    ("plain", "Subject: Minutes of the weekly meeting, 3 June"),
    ("q_word", "Subject: =?ISO-8859-1?Q?Caf=E9_cr=E8me?= tonight"),
    ("b_word", "Subject: =?UTF-8?B?44GT44KT44Gr44Gh44Gv?="),
    ("iso_2022_jp", "Subject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?="),
    ("folded_900_bytes", folded_subject()),
    ("koi8_r", "Subject: =?KOI8-R?B?8NLJ18XUIMnaIO3P08vX2Q==?="),
    ("adjacent_words_unfolded",
     "Subject: =?GB2312?B?u+HS6c2o1qo=?=\t=?UTF-8?B?5a2j5bqm5oC757uT?= =?ISO-8859-1?Q?_caf=E9?="),
]


def rate(line: str, seconds: float) -> float:
    count = 0
    start = time.perf_counter()
    deadline = start + seconds
    while True:
        for _ in range(100):
            str(make_header(decode_header(line)))
        count += 100
        now = time.perf_counter()
        if now >= deadline:
            return count / (now - start)


def main() -> None:
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 1.0
    for name, line in CASES:
        print(f"{name} {rate(line, seconds):.0f}")


if __name__ == "__main__":
    main()
