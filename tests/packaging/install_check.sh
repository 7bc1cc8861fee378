#!/bin/bash
# Installs the package as a user would (apt-get pulls its dependencies),
# checks that the program runs and that its desktop entry, icon, AppStream
# metadata and manual page are where desktops look, then purges it.
# Changes the system: for CI machines and for trying the package once.
#   install_check.sh PATH/velmora_*.deb
set -euo pipefail
deb=$(realpath "${1:?usage: install_check.sh PATH/velmora_VERSION_ARCH.deb}")
sudo=""
if [ "$(id -u)" != 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

# A leftover install would hide a file the package no longer ships.
if dpkg-query -W -f='${Status}' velmora 2> /dev/null | grep -q "install ok installed"; then
  $sudo apt-get purge -y velmora
fi
$sudo apt-get install -y "$deb"
purge() { $sudo apt-get purge -y velmora > /dev/null; }
trap purge EXIT

failed=0
fail() { echo "FAIL: $*"; failed=1; }

[ "$(command -v velmora)" = /usr/bin/velmora ] || fail "velmora is not /usr/bin/velmora: $(command -v velmora)"
missing=$(ldd /usr/bin/velmora | grep "not found" || true)
[ -z "$missing" ] || fail "libraries missing: $missing"
# No display needed for either.
env -u DISPLAY -u WAYLAND_DISPLAY velmora --version || fail "velmora --version failed"
env -u DISPLAY -u WAYLAND_DISPLAY velmora --help > /dev/null || fail "velmora --help failed"

# What the package holds...
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in /usr/bin/velmora \
  /usr/share/applications/co.quennet.velmora.desktop \
  /usr/share/icons/hicolor/scalable/apps/co.quennet.velmora.svg \
  /usr/share/metainfo/co.quennet.velmora.metainfo.xml \
  /usr/share/man/man1/velmora.1.gz \
  /usr/share/doc/velmora/copyright \
  /usr/share/doc/velmora/changelog.Debian.gz; do
  grep -qx "\.$file" <<< "$contents" || fail "the package has no $file"
  # ...and what is on disk, unless dpkg is told to leave documentation out
  # (slim container images).
  case $file in
    /usr/share/man/*) docs=man ;;
    /usr/share/doc/*) docs=doc ;;
    *) docs="" ;;
  esac
  if [ -n "$docs" ] && grep -qsE "^path-exclude=/usr/share/$docs/" /etc/dpkg/dpkg.cfg.d/*; then continue; fi
  [ -s "$file" ] || fail "$file is not installed"
done
desktop-file-validate /usr/share/applications/co.quennet.velmora.desktop || fail "installed desktop entry is invalid"
appstreamcli validate --no-net /usr/share/metainfo/co.quennet.velmora.metainfo.xml > /dev/null ||
  fail "installed metainfo is invalid"
if [ -e /usr/share/man/man1/velmora.1.gz ]; then
  [ "$(man -w velmora)" = /usr/share/man/man1/velmora.1.gz ] || fail "man does not find velmora(1)"
  man -P cat velmora 2> /dev/null | grep -q "journalctl -t velmora" || fail "velmora(1) does not read"
fi

trap - EXIT
purge
if dpkg-query -W -f='${Status}' velmora 2> /dev/null | grep -q "installed"; then fail "velmora is still installed"; fi
[ ! -e /usr/bin/velmora ] || fail "/usr/bin/velmora is left after the purge"

[ "$failed" = 0 ] && echo "PASS: the package installs, runs and purges"
exit "$failed"
