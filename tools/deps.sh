#!/usr/bin/env bash
# Installs the Debian packages Velmora needs to build, test and run.
# Sourced by the other tools; uses sudo when not run as root.
set -euo pipefail

VELMORA_BUILD_PACKAGES=(
  build-essential cmake ninja-build pkg-config clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libasio-dev nlohmann-json3-dev libicu-dev libsystemd-dev
  libpulse-dev libxcb1-dev libxcb-randr0-dev libxcb-res0-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-qpa-plugins
  libwayland-dev wayland-protocols plasma-wayland-protocols
  clang libclang-rt-14-dev
)
# A real desktop for the end-to-end tests: X server, window manager, sound
# server and a player.
VELMORA_E2E_PACKAGES=(
  xvfb x11-xserver-utils x11-utils openbox wmctrl xdotool trayer
  pulseaudio pulseaudio-utils mpv sox dbus pipewire pipewire-pulse wireplumber
  sway jq foot weston kwin-wayland qdbus-qt5 gnome-shell gjs eslint libglib2.0-bin nodejs
  # What the compositors and players only recommend, yet the headless beds
  # need: Mesa's drivers (EGL and software GL), a font, the D-Bus tools.
  dbus-bin libgl1-mesa-dri libegl-mesa0 fonts-dejavu-core psmisc procps
  # What eslint only recommends, yet needs to read a YAML configuration and
  # to print its report.
  node-js-yaml node-chalk node-strip-ansi node-text-table
)

# Building the Debian package (CPack finds programs with file, and their
# dependencies with dpkg-shlibdeps) and checking it: the package's validators
# and the manual page reader.
VELMORA_PACKAGING_PACKAGES=(
  dpkg-dev file lintian desktop-file-utils appstream man-db
)

# Making the chroots of the newer releases' desktop beds (tools/test-desktops.sh).
VELMORA_DESKTOP_PACKAGES=(mmdebstrap)

# Installs the packages named that are missing, without what they only
# recommend (the desktop packages recommend whole desktops). Waits for another
# package manager holding apt's locks (an unattended upgrade, a second
# install) instead of failing. VELMORA_SKIP_DEPS=1 installs nothing (the
# desktop beds' chroots come with their packages).
velmora_install_packages() {
  [ "${VELMORA_SKIP_DEPS:-0}" = 1 ] && return 0
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ "${#missing[@]}" -gt 0 ] || [ "${VELMORA_FORCE_APT:-0}" = 1 ]; then
    velmora_apt update
    velmora_apt install -y --no-install-recommends "$@"
  fi
}

# apt-get ARGS..., as root, waiting up to ten minutes for apt's and dpkg's
# locks. dpkg's lock has its own wait; the package lists' lock has none, so a
# run that could not take it is tried again.
velmora_apt() {
  local sudo="" err deadline=$((SECONDS + 600)) status
  if [ "$(id -u)" != 0 ]; then sudo="sudo"; fi
  err=$(mktemp)
  while :; do
    status=0
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 "$@" 2> "$err" || status=$?
    cat "$err" >&2
    if [ "$status" = 0 ] || ! grep -q "Could not get lock" "$err" || [ "$SECONDS" -ge "$deadline" ]; then break; fi
    echo "deps.sh: another package manager holds apt's lock; waiting" >&2
    sleep 10
  done
  rm -f "$err"
  return "$status"
}
