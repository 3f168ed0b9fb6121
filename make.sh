#!/bin/sh
# `make TARGET` where make may not be installed yet (a minimal Debian 12):
# installs make first (as root, or says how), then runs it.
#   ./make.sh demo      ./make.sh test      (any target of the Makefile)
set -e
cd "$(dirname "$0")"
command -v make >/dev/null 2>&1 || ./tools/deps.sh make
exec make "$@"
