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
)

# Building the Debian package (CPack finds programs with file, and their
# dependencies with dpkg-shlibdeps) and checking it: the package's validators
# and the manual page reader.
VELMORA_PACKAGING_PACKAGES=(
  dpkg-dev file lintian desktop-file-utils appstream man-db
)

velmora_install_packages() {
  local sudo=""
  if [ "$(id -u)" != 0 ]; then sudo="sudo"; fi
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ "${#missing[@]}" -gt 0 ] || [ "${VELMORA_FORCE_APT:-0}" = 1 ]; then
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "$@"
  fi
}
