#!/bin/sh
# Installs the Debian packages named as arguments that are not installed yet.
# As root it uses apt-get; otherwise it prints the command to run as root.
missing=""
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "wyke: missing Debian packages:$missing"
  echo "wyke: install them as root with: apt-get install --no-install-recommends$missing"
  echo "wyke: (or, where sudo is set up: sudo apt-get install --no-install-recommends$missing)"
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# A fresh machine has no package lists yet; fetch them only when a package is not found.
if ! apt-get install -y -q --no-install-recommends $missing; then
  apt-get update -q && apt-get install -y -q --no-install-recommends $missing
fi
