#!/usr/bin/env bash
# The Debian package as a user meets it: lintian on the .deb, then installed
# into this system with apt-get, run from /usr/bin, its desktop entry, icon,
# manual page and metainfo validated where they were installed, started the
# way the menu starts it, and removed again.
#   tests/package_check.sh BUILD_DIR     (make package-check)
# Installing needs root: otherwise only lintian runs and the rest is skipped,
# saying so. A wyke package already installed is left alone (nothing runs).
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
debs=("$build"/wyke_*_amd64.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "package check: expected one wyke_*_amd64.deb in $build (make package)" >&2; exit 1; }
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
failures=0
fail() { echo "package check: FAILED: $*" >&2; failures=$((failures + 1)); }
step() { echo "package check: $*"; }

# --- The package file ----------------------------------------------------------

step "lintian $(basename "$deb")"
# Errors fail the check; warnings and the rest are listed for the record.
lintian --allow-root --display-info --pedantic --fail-on error "$deb" || fail "lintian reports errors"

if [ "$(id -u)" -ne 0 ]; then
  echo "package check: SKIPPED installing the package: needs root (run make package-check as root)" >&2
  exit $((failures > 0))
fi
if dpkg-query -W -f='${Status}' wyke 2>/dev/null | grep -q "install ok installed"; then
  echo "package check: SKIPPED installing the package: a wyke package is installed already (apt-get purge wyke)" >&2
  exit $((failures > 0))
fi

# --- Installed ------------------------------------------------------------------

scratch=$(mktemp -d)
remove_package() {
  step "removing the package"
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -q wyke >/dev/null || true
  rm -rf "$scratch"
}
trap remove_package EXIT
step "apt-get install $(basename "$deb")"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$deb" >"$scratch/apt.log" 2>&1 ||
  { cat "$scratch/apt.log" >&2; echo "package check: FAILED: apt-get install" >&2; exit 1; }

[ "$(command -v wyke)" = /usr/bin/wyke ] || fail "wyke on PATH is $(command -v wyke || echo nothing), not /usr/bin/wyke"
out=$(/usr/bin/wyke --version) || fail "wyke --version exited with $?"
[ "$out" = "wyke $version" ] || fail "wyke --version printed '$out', the package is $version"
# A settings folder of its own, so that the paths --help prints are known.
export XDG_CONFIG_HOME="$scratch/config"
mkdir -p "$XDG_CONFIG_HOME"
/usr/bin/wyke --help >"$scratch/help" || fail "wyke --help exited with $?"
grep -qx "  $XDG_CONFIG_HOME/Mail/accounts" "$scratch/help" || fail "wyke --help does not name the accounts file"
status=0
/usr/bin/wyke --no-such-option 2>"$scratch/usage" || status=$?
[ "$status" -eq 2 ] && grep -q '^Usage: wyke' "$scratch/usage" || fail "an unknown option gave status $status"

step "desktop entry"
entry=/usr/share/applications/wyke.desktop
desktop-file-validate "$entry" || fail "desktop-file-validate $entry"
icon=$(sed -n 's/^Icon=//p' "$entry")
png=/usr/share/icons/hicolor/48x48/apps/$icon.png
svg=/usr/share/icons/hicolor/scalable/apps/$icon.svg
file -b "$png" | grep -q '^PNG image data, 48 x 48' || fail "$png is no 48-pixel PNG: $(file -b "$png")"
rsvg-convert -w 128 -h 128 -o "$scratch/icon.png" "$svg" || fail "$svg does not render"

step "manual page"
page=/usr/share/man/man1/wyke.1.gz
[ "$(man -w wyke)" = "$page" ] || fail "man -w wyke finds '$(man -w wyke)'"
LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" >"$scratch/man.txt" 2>"$scratch/man.warnings" ||
  fail "man -l $page exited with $?"
[ ! -s "$scratch/man.warnings" ] || { cat "$scratch/man.warnings" >&2; fail "the manual page has warnings"; }
# Every key --help lists is explained in the manual page too.
for key in $(sed -n 's/^  \([a-z_]*\) = .*/\1/p' "$scratch/help"); do
  grep -Eq "^ {7}$key = " "$scratch/man.txt" || fail "the manual page does not explain the key $key"
done

step "metainfo"
# The component keeps the id of its desktop entry and binary, "wyke", rather
# than a reverse domain name the project does not own; that hint is not a fault.
not_rdns=--override=cid-desktopapp-is-not-rdns=info
appstreamcli validate --no-net "$not_rdns" /usr/share/metainfo/wyke.metainfo.xml || fail "appstreamcli validate"
# The tree as a software centre reads it: the metainfo's desktop entry and icon found.
dpkg-deb -x "$deb" "$scratch/tree"
appstreamcli validate-tree --no-net "$not_rdns" "$scratch/tree" || fail "appstreamcli validate-tree"

step "started as the menu starts it"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
"$here/../tools/with-display.sh" bash -c '
  '"$exec_line"' 2>/dev/null &
  pid=$!
  for _ in $(seq 100); do
    if xdotool search --pid "$pid" >/dev/null 2>&1; then kill "$pid"; wait "$pid" 2>/dev/null; exit 0; fi
    kill -0 "$pid" 2>/dev/null || exit 1
    sleep 0.1
  done
  kill "$pid"; exit 1' || fail "'$exec_line' from the desktop entry showed no window within 10 s"

if [ "$failures" -gt 0 ]; then
  echo "package check: $failures failure(s)" >&2
  exit 1
fi
step "passed"
