#!/bin/sh
# Installs the Debian packages named as arguments that are not installed yet.
# As root it uses apt-get; otherwise it prints the command to run as root.
# POSIX sh: it runs on a minimal Debian before anything else is installed.
# shellcheck disable=SC2086 # $missing and $units are lists of words
set -e
installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
missing=""
for p in "$@"; do
  installed "$p" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "wyke: missing Debian packages:$missing"
  echo "wyke: install them as root with: apt-get install --no-install-recommends$missing"
  echo "wyke: (or, where sudo is set up: sudo apt-get install --no-install-recommends$missing)"
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive

# Debian starts a mail server at once and at every boot when its package is
# installed, listening on every address. The tests run Dovecot's programs
# with a configuration of their own and want no such service: when this
# install is what brings Dovecot in, its service is kept from starting
# (policy-rc.d) and disabled afterwards. A Dovecot installed before is the
# user's and is left as it is.
policy=/usr/sbin/policy-rc.d
saved_policy=$policy.wyke-saved
new_dovecot=false
case "$missing " in
  *" dovecot-"*) installed dovecot-core || new_dovecot=true ;;
esac
restore_policy() {
  if [ -e "$saved_policy" ]; then mv -f "$saved_policy" "$policy"; else rm -f "$policy"; fi
}
if $new_dovecot; then
  [ -e "$policy" ] && mv -f "$policy" "$saved_policy"
  trap restore_policy EXIT
  trap 'exit 130' INT TERM
  printf '#!/bin/sh\n# Written by wyke tools/deps.sh while it installs packages: no service starts.\nexit 101\n' >"$policy"
  chmod 755 "$policy"
fi

# A fresh machine has no package lists yet; fetch them only when a package is not found.
if ! apt-get install -y -q --no-install-recommends $missing; then
  apt-get update -q && apt-get install -y -q --no-install-recommends $missing
fi

if $new_dovecot && installed dovecot-core; then
  units=$(dpkg-query -L dovecot-core | sed -n 's|^/lib/systemd/system/\(dovecot\.[a-z]*\)$|\1|p' | tr '\n' ' ')
  if command -v systemctl >/dev/null 2>&1 && [ -n "$units" ]; then
    systemctl disable --quiet $units
    [ -d /run/systemd/system ] && systemctl stop $units
  elif command -v update-rc.d >/dev/null 2>&1; then
    update-rc.d dovecot disable >/dev/null
  fi
  echo "wyke: Dovecot was installed for the tests only: its system service is disabled and not running"
  echo "wyke: (to serve mail with it: systemctl enable --now dovecot)"
fi
