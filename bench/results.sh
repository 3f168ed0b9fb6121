#!/usr/bin/env bash
# Runs the benchmarks of a benchmark build beside their references and writes
# bench/RESULTS.md: the figures, the machine and the commands.
#   bench/results.sh [BUILD_DIR]     (default build-bench)
# IDLE_SECONDS (default 60) is the idle time of the desktop figures.
# BASELINE_WYKE, when set, is a notifier binary of an earlier build (say, of
# the main branch before a change) whose long-list figures are taken in the
# same run, beside this build's.
# ONLY, when set, names the runs to make again (say ONLY=tls, or "tls imap");
# the other figures are those of the last run kept in BUILD_DIR/bench-raw.
set -euo pipefail
build=$(cd "${1:-build-bench}" && pwd)
bench=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$bench")
idle=${IDLE_SECONDS:-60}
raw=$(mktemp -d)
trap 'rm -rf "$raw"' EXIT
kept="$build/bench-raw"
only=${ONLY:-}
if [ -n "$only" ]; then
  [ -f "$kept/machine" ] || { echo "ONLY needs a whole run first: nothing kept in $kept" >&2; exit 1; }
  cp -r "$kept"/. "$raw"/
  mkdir "$raw/kept"
  cp "$kept"/desktop.md "$kept"/long_list.md "$kept"/decode_reference.txt "$raw/kept"/
fi

# Each command line once: a run with ONLY keeps those of the last one.
note_command() {
  grep -qxF -- "$1" "$raw/commands" 2>/dev/null || printf '%s\n' "$1" >>"$raw/commands"
}

# run NAME COMMAND...: runs it, shows its output, and keeps the command line
# (words with blanks or quotes in single quotes, the temporary folder as $RAW).
run() {
  local name=$1 word line=""
  shift
  if [ -n "$only" ] && [[ " $only " != *" $name "* ]]; then
    # Kept from the last run: its output as it was (the caller may write
    # it out again).
    case $name in decode_reference | desktop | long_list) cat "$raw/kept/$name".*;; esac
    return 0
  fi
  for word in "$@"; do
    [[ $word =~ [[:space:]\"\'\$\&] ]] && word="'$word'"
    line+="${line:+ }$word"
  done
  line=${line//$root\//}
  echo "== $name: $line" >&2
  note_command "${line//$raw/\$RAW}"
  "$@"
}

cd "$root"
run check "$build/bench/bench_check" --benchmark_out="$raw/check.json" --benchmark_out_format=json
run decode "$build/bench/bench_mimetool" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$raw/decode.json" --benchmark_out_format=json
run decode_reference python3 bench/reference_decode.py 1 | tee "$raw/decode_reference.txt"
run pop3 "$build/bench/bench_pop3" --benchmark_out="$raw/pop3.json" --benchmark_out_format=json
# Needs a private network (user namespaces) and Dovecot; without them the
# section says why it is missing.
run tls "$build/bench/bench_tls" --benchmark_out="$raw/tls.json" --benchmark_out_format=json 2> >(tee "$raw/tls.err" >&2) ||
  rm -f "$raw/tls.json"
run imap "$build/bench/bench_imap" --benchmark_out="$raw/imap.json" --benchmark_out_format=json 2> >(tee "$raw/imap.err" >&2) ||
  rm -f "$raw/imap.json"
run accounts "$build/bench/bench_accounts" --benchmark_out="$raw/accounts.json" --benchmark_out_format=json
run secret "$build/bench/bench_secret" --benchmark_out="$raw/secret.json" --benchmark_out_format=json

# The desktop figures in a network of their own, so that nothing can answer on
# port 110 whatever this machine runs.
desktop=(tools/with-display.sh bench/desktop_peers.sh "$build/wyke")
if unshare -rn true 2>/dev/null; then
  desktop=(unshare -rn sh -c 'ip link set lo up && exec "$@"' sh "${desktop[@]}")
fi
export IDLE_SECONDS=$idle
note_command "export IDLE_SECONDS=$idle"
run desktop "${desktop[@]}" | tee "$raw/desktop.md"
# The demo server takes port 110: in a network of its own too.
long_list=(tools/with-display.sh bench/long_list.sh "$build/tools/wyke-demo-server" "this build=$build/wyke")
if [ -n "${BASELINE_WYKE:-}" ]; then long_list+=("baseline=$BASELINE_WYKE"); fi
if unshare -rn true 2>/dev/null; then
  long_list=(unshare -rn sh -c 'ip link set lo up && exec "$@"' sh "${long_list[@]}")
fi
run long_list "${long_list[@]}" | tee "$raw/long_list.md"

compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
{
  echo "date=$(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "cpus=$(nproc)"
  echo "cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
  echo "kernel=$(uname -srm)"
  echo "qt=$(pkg-config --modversion Qt6Widgets 2>/dev/null || echo unknown)"
  echo "compiler=$("$compiler" --version | head -n 1)"
  echo "python=$(python3 --version)"
  echo "benchmark=$(dpkg-query -W -f '${Version}' libbenchmark-dev 2>/dev/null || echo unknown)"
  echo "xbiff=x11-apps $(dpkg-query -W -f '${Version}' x11-apps 2>/dev/null || echo unknown)"
  echo "load=$(cut -d ' ' -f 1-3 /proc/loadavg)"
  echo "idle=$idle"
} >"$raw/machine"
# The machine and date of a whole run stay those of the figures kept.
if [ -n "$only" ]; then
  sed -n 's/^date=//p' "$kept/machine" >"$raw/whole_run"
  cp "$kept/machine" "$raw/machine.kept"
fi

# The decoding figures of the run before, to set beside this one's.
# (With ONLY, those the whole run set beside its own, kept with it.)
[ -n "$only" ] || [ ! -f "$bench/RESULTS.md" ] || cp "$bench/RESULTS.md" "$raw/previous.md"

python3 - "$raw" >"$raw/RESULTS.md" <<'EOF'
import json, os, re, sys
raw = sys.argv[1]
machine = dict(line.rstrip("\n").split("=", 1) for line in open(f"{raw}/machine"))

def runs(name):
    return json.load(open(f"{raw}/{name}.json"))["benchmarks"]

def measured(name):  # the runs of a benchmark that may not run here, or None with why said
    if os.path.exists(f"{raw}/{name}.json"):
        return runs(name)
    reason = open(f"{raw}/{name}.err").read().strip().splitlines()
    say(f"Not measured in this run: {reason[-1] if reason else 'bench_' + name + ' failed'}")
    return None

def messages(run):
    return int(re.search(r"messages:(\d+)", run["name"]).group(1))

out = []
say = out.append

# --- IMAP, against Dovecot -------------------------------------------------------------------------
def imap_section():
    say("## IMAP against Dovecot (bench/bench_imap)")
    say("")
    imap = measured("imap")
    if imap:
        def first(prefix):
            return [run for run in imap if run["name"].startswith(prefix) and "aggregate_name" not in run][0]
        def least(prefix, key):
            return min(run[key] for run in imap if run["name"].startswith(prefix) and "aggregate_name" not in run)
        say("2,000 unseen messages in a real Dovecot's INBOX over TLS (port 993), straight and through the 20 ms")
        say("round-trip proxy; Wyke (best of 5) beside `bench/reference_imap.py` with Python's `imaplib.IMAP4_SSL` and")
        say("`email.header` doing the same listing (best of 5). CPU: Wyke's checking thread; the whole interpreter for")
        say("Python. The first check of a process also loads the system's trust store, once (some 60 ms).")
        say("")
        say("| client | wall, delayed (ms) | wall, no delay (ms) | round trips | CPU, no delay (ms) |")
        say("|---|---|---|---|---|")
        w1, w0 = least("BM_ImapCheck/delayed:1", "real_time"), least("BM_ImapCheck/delayed:0", "real_time")
        say(f"| Wyke | {w1:.0f} | {w0:.0f} | {(w1 - w0) / 20:.1f} | {least('BM_ImapCheck/delayed:0', 'cpu_time'):.1f} |")
        r1, r0 = first("BM_ReferenceImapCheck/delayed:1"), first("BM_ReferenceImapCheck/delayed:0")
        say(f"| Python `imaplib` | {r1['real_time']:.0f} | {r0['real_time']:.0f} | "
            f"{(r1['real_time'] - r0['real_time']) / 20:.1f} | {r0['cpu_ms']:.1f} |")
        say("")
        say("Delivery to screen: a message written into the Maildir (tmp/, then new/) until its Subject is in the")
        say("listing. Wyke's IDLE watcher, told of it, lists the mailbox on its idle connection (DONE with UID SEARCH,")
        say("then UID FETCH) and tells; the check that starts (as the notifier's window runs it) shows that listing.")
        say("The reference idles with imaplib and fetches the new Subject on its idle connection. Each delivery comes")
        say("after a quiet second, and into an idling connection for both. Median of 10. Dovecot itself tells an")
        say("idling client about 0.5 s after the file appears.")
        say("")
        say("| client | loopback (ms) | 20 ms round trip (ms) |")
        say("|---|---|---|")
        for label, prefix in [("Wyke", "BM_DeliveryToScreen"), ("Python `imaplib` IDLE", "BM_ReferenceDelivery")]:
            say(f"| {label} | {first(prefix + '/delayed:0')['median_ms']:.0f} | {first(prefix + '/delayed:1')['median_ms']:.0f} |")
        say("")
        say(f"Resident memory an idling IDLE watcher adds to the process: {first('BM_IdleMemory')['added_kb']:.0f} KB.")
    say("")

say("# Benchmark results")
say("")
if os.path.exists(f"{raw}/whole_run"):
    whole = open(f"{raw}/whole_run").read().strip()
    say(f"Written by `bench/results.sh` with ONLY={os.environ['ONLY']} on {machine['date']}: those figures come from")
    say(f"that run, every other one from the whole run of {whole} (`make bench`); the machine below is as it")
    say("was then. A new whole run rewrites this file.")
    machine = dict(line.rstrip("\n").split("=", 1) for line in open(f"{raw}/machine.kept"))
else:
    say(f"Written by `make bench` (bench/results.sh) on {machine['date']}. Every figure below comes from that one run;")
    say("a new run rewrites this file.")
say("")
say("## Machine")
say("")
say("| | |")
say("|---|---|")
for key, label in [("cpus", "CPUs (nproc)"), ("cpu", "CPU model"), ("kernel", "kernel"), ("qt", "Qt"),
                   ("compiler", "compiler (Release build)"), ("python", "Python (references)"),
                   ("benchmark", "Google Benchmark (Debian's, built as a debug library)"),
                   ("xbiff", "xbiff"), ("load", "load average at the start")]:
    say(f"| {label} | {machine[key]} |")
say("")

# --- The whole check ---------------------------------------------------------------
check = runs("check")
wyke = {}
reference = {}
for run in check:
    if run["name"].startswith("BM_Checkmail") and run.get("aggregate_name") in ("min", "median"):
        wyke.setdefault(messages(run), {})[run["aggregate_name"]] = run["real_time"]
    elif run["name"].startswith("BM_ReferenceCheck"):
        reference[messages(run)] = run["real_time"]
say("## A whole check against the scripted server on loopback")
say("")
say("Login, STAT before every message, `TOP n 0`, From and Subject unfolded and decoded, QUIT; realistic headers")
say("(10 to 20 lines, some folded, encoded words in ISO-2022-JP, UTF-8 and ISO-8859-1 mixed with plain text).")
say("Wyke's `WykeView::checkmail` and the reference client `bench/reference_check.py` (Python `poplib` and")
say("`email.header`) run against the same server and the same maildrop in the same process run; each figure is")
say("the best single check of 10.")
say("")
say("| messages | Wyke best (ms) | Wyke median (ms) | Python reference best (ms) | reference time / Wyke time |")
say("|---|---|---|---|---|")
for n in sorted(wyke):
    best, median, ref = wyke[n]["min"], wyke[n]["median"], reference[n]
    say(f"| {n:,} | {best:.1f} | {median:.1f} | {ref:.1f} | {ref / best:.2f} |")
say("")

# --- decode_header -------------------------------------------------------------------
decode = {}
for run in runs("decode"):
    if run.get("aggregate_name") == "median":
        decode[run["run_name"].split("/")[1]] = run["lines/s"]
python_rates = dict(line.split() for line in open(f"{raw}/decode_reference.txt") if line.strip())

def previous_decode():
    """Wyke's figures in the decoding table of the RESULTS.md this run replaces."""
    rates, inside = {}, False
    try:
        lines = open(f"{raw}/previous.md").read().splitlines()
    except FileNotFoundError:
        return rates, "none"
    date = next((re.search(r"on (.*? UTC)", l).group(1) for l in lines if "bench/results.sh) on" in l), "unknown")
    for line in lines:
        if line.startswith("## "):
            inside = "email.header" in line
        cells = [c.strip() for c in line.strip("|").split("|")]
        if inside and line.startswith("| ") and len(cells) > 2 and cells[1].replace(",", "").isdigit():
            rates[cells[0]] = float(cells[1].replace(",", ""))
    return rates, date

before, before_date = previous_decode()
say("## Decoding a field against Python's `email.header`")
say("")
say("The same lines; Wyke's `decode_header` followed by `shown_field`, as a check treats every field it shows")
say("(median of 5 runs of bench/bench_mimetool), against `str(make_header(decode_header(line)))`")
say(f"(bench/reference_decode.py, one second per line). \"Previous run\" is Wyke's figure in the results this run")
say(f"replaced (written {before_date}), on whatever code was built then.")
say("")
say("| line | Wyke (lines/s) | Wyke, previous run (lines/s) | Python (lines/s) | Wyke / Python |")
say("|---|---|---|---|---|")
for name, rate in decode.items():
    ref = float(python_rates[name])
    old = f"{before[name]:,.0f}" if name in before else "-"
    say(f"| {name} | {rate:,.0f} | {old} | {ref:,.0f} | {rate / ref:.1f} |")
say("")

# --- The desktop -----------------------------------------------------------------------
say("## On the desktop, beside xbiff")
say("")
say(f"Under one Xvfb with openbox (tools/with-display.sh), in a network namespace of its own so that nothing")
say(f"answers on port 110 (Wyke's check fails at once and shows \"Error\"); xbiff watches a mailbox file that")
say(f"does not exist, checking every second. Start to first window from launch to the window being visible")
say(f"(polled every 5 ms); memory and CPU of the process over {machine['idle']} s of idle ticking after that.")
say("")
out.extend(line.rstrip("\n") for line in open(f"{raw}/desktop.md"))
say("")

# --- A long list --------------------------------------------------------------------------
say("## A 2,000-message list on the desktop")
say("")
say("The notifier against the demo server with 2,000 messages (From and Subject each), under the same Xvfb and")
say("openbox: time from launch to the window shown (the first check runs before it shows) and peak resident")
say("memory (VmHWM) a second after, medians of 5 launches (bench/long_list.sh). A baseline row is an earlier")
say("build given as BASELINE_WYKE, measured in the same run.")
say("")
out.extend(line.rstrip("\n") for line in open(f"{raw}/long_list.md"))
say("")

# --- Several accounts ----------------------------------------------------------------------
accounts = runs("accounts")[0]
say("## Three accounts at once (bench/bench_accounts)")
say("")
say("Three accounts over TLS (PIPELINING offered), each its own scripted server behind its own link with a 20 ms")
say("round trip (bench/delay_proxy.h), with 2,000, 50 and 50 messages. In each of 5 rounds the three are checked")
say("one by one, each alone in the accounts file, then all three in one check; the figures are means over the")
say("rounds. The servers and links run in a child process: the peak resident memory (VmHWM) is the checking")
say("process's own, over every check of the run.")
say("")
say("| sum of the three alone (ms) | slowest alone (ms) | all three in one check (ms) | one check / slowest | peak resident memory (KiB) |")
say("|---|---|---|---|---|")
say(f"| {accounts['alone_sum_ms']:.0f} | {accounts['slowest_alone_ms']:.0f} | {accounts['together_ms']:.0f} | "
    f"{accounts['together_ms'] / accounts['slowest_alone_ms']:.2f} | {accounts['peak_rss_kib']:,.0f} |")
say("")

# --- The POP3 client alone ---------------------------------------------------------------------
say("## The POP3 client alone (bench/bench_pop3)")
say("")
say("A check's traffic for 2,000 messages without decoding: reading a byte per `recv` against the session's")
say("buffer. Wall time per listing; CPU of the client thread, and of the whole process with the server thread.")
say("")
say("| read size | wall (ms) | client CPU (ms) | process CPU (ms) | client recv calls | lines |")
say("|---|---|---|---|---|---|")
for run in runs("pop3"):
    size = re.search(r"read_size:(\d+)", run["name"]).group(1)
    say(f"| {size} | {run['real_time']:.1f} | {run['cpu_time']:.1f} | {run['process_cpu_ms']:.1f} | "
        f"{run['recv_calls']:,.0f} | {run['lines']:,.0f} |")
say("")

# --- Over TLS, against Dovecot --------------------------------------------------------------------
say("## A check over TLS against Dovecot (bench/bench_tls)")
say("")
tls = measured("tls")
if tls:
    def best(prefix):  # the "min" aggregate of repeated runs, else the one run
        matching = [run for run in tls if run["name"].startswith(prefix)]
        return ([run for run in matching if run.get("aggregate_name") == "min"] or matching)[0]
    rtt = 20.0
    say("A real Dovecot (TLS required, PIPELINING advertised) in a private network, 200 messages, reached through a")
    say("delaying proxy on loopback that holds every chunk 10 ms each way (a 20 ms round trip; it delays data, not")
    say("the TCP handshake, so a real link adds one round trip for connecting). Wyke's check in mode `tls`")
    say("(greeting, CAPA, login and STAT in one write, TOP n 0 pipelined in batches with QUIT after the last)")
    say("beside `bench/reference_check.py` with Python's `poplib.POP3_SSL` (STAT once, then each TOP n 0 in turn),")
    say("the same server and proxy, the same run. The first check is that of a fresh process, as at the notifier's")
    say("start (nothing of OpenSSL or the trust store set up yet); a later check runs in a process that has made")
    say("checks before; Python starts afresh for each. Wyke: best of 5 checks; Python: best of 3. \"At the link\" is")
    say("the proxy's time from its accept to its close, the server's computing included (it starts a login")
    say("process and a mail process per connection). The same checks straight to the server's port tell the time")
    say("spent computing; what the delay adds, over the round trip, is the count of round trips alone. Turns are")
    say("counted at the link: the times the client spoke again after hearing from the server (a close after the")
    say("server's last answer counts), the exchange's round trips whatever the computing took.")
    say("")
    say("| client | at the link (ms) | at the link / 20 ms | turns at the link | wall, delayed (ms) | "
        "wall, no delay (ms) | round trips ((delayed - no delay) / 20 ms) |")
    say("|---|---|---|---|---|---|---|")
    for label, prefix in [("Wyke, `security = tls`, first check", "BM_FirstTlsCheck/"),
                          ("Wyke, `security = tls`, later check", "BM_TlsCheck/"),
                          ("Python `poplib.POP3_SSL`", "BM_ReferenceTlsCheck/")]:
        delayed = best(f"{prefix}delayed:1/")
        direct = best(f"{prefix}delayed:0/")["real_time"]
        link = delayed["link_ms"]
        say(f"| {label} | {link:.0f} | {link / rtt:.1f} | {delayed['link_turns']:.0f} | {delayed['real_time']:.0f} | {direct:.0f} | "
            f"{(delayed['real_time'] - direct) / rtt:.1f} |")
    say("")
    say("The CPU that TLS adds: 2,000 messages from the same server on plain loopback, CPU of the thread running the")
    say("check (best of 5). Mode `none` is the plain exchange (STAT before every TOP), which the server allows only")
    say("to a client on its own address; mode `tls` verifies the certificate and pipelines the TOPs.")
    say("")
    say("| mode | wall (ms) | check thread CPU (ms) |")
    say("|---|---|---|")
    cpu = {}
    for mode, flag in [("none", 0), ("tls", 1)]:
        run = best(f"BM_CheckCpu/tls:{flag}/")
        cpu[mode] = run["cpu_time"]
        say(f"| `{mode}` | {run['real_time']:.1f} | {run['cpu_time']:.1f} |")
    say("")
    say(f"Added CPU of TLS for the whole check: {cpu['tls'] - cpu['none']:.1f} ms "
        f"({cpu['tls'] / cpu['none']:.2f} times that of `none`).")
say("")

imap_section()

# --- A password from a command -------------------------------------------------------------------
say("## A password from a command (bench/bench_secret)")
say("")
say("What `password_command` adds to each check at the least: `/bin/sh -c \"printf 'secret\\n'\"` run and read")
say("as a check runs it (pipes, process group, reaping); 5 repetitions.")
say("")
secret = {run["aggregate_name"]: run["real_time"] for run in runs("secret") if "aggregate_name" in run}
say("| median (ms) | standard deviation (ms) |")
say("|---|---|")
say(f"| {secret['median']:.2f} | {secret['stddev']:.2f} |")
say("")

say("## Commands")
say("")
say("Run from the top of the source tree, after `cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release")
say("-DWYKE_BENCH=ON && cmake --build build-bench`:")
say("")
say("```")
for line in open(f"{raw}/commands"):
    say(line.rstrip("\n"))
say("```")
say("")
say("`$RAW` is a temporary folder for the raw JSON output.")
print("\n".join(out))
EOF
mv "$raw/RESULTS.md" "$bench/RESULTS.md"
# Kept for a later run with ONLY.
mkdir -p "$kept"
for file in "$raw"/*; do
  case ${file##*/} in kept | whole_run | machine.kept) ;; machine) [ -n "$only" ] || cp "$file" "$kept"/;;
    *) cp "$file" "$kept"/;; esac
done
echo "wrote $bench/RESULTS.md" >&2
