#!/usr/bin/env bash
# Installs what is needed, builds everything and runs the whole test suite:
# unit tests and the end-to-end tests against a real X server and sound server.
# Refuses to run, naming what is missing, when a suite it promises is absent.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/tools/deps.sh"
velmora_install_packages "${VELMORA_BUILD_PACKAGES[@]}" "${VELMORA_E2E_PACKAGES[@]}"

build="${VELMORA_BUILD_DIR:-$root/build}"
# The whole suite needs the tray application, the Linux back ends and the
# tests, whatever an earlier configuration of this folder chose.
cmake -S "$root" -B "$build" -G Ninja -DVELMORA_BUILD_APP=ON -DVELMORA_BUILD_LINUX=ON -DVELMORA_BUILD_TESTS=ON
cmake --build "$build"
cmake -DBUILD_DIR="$build" -P "$root/tools/check-suites.cmake"
cd "$build"
ctest --output-on-failure --timeout 300
