#!/usr/bin/env bash
# Installs what is needed, builds everything and runs the whole test suite:
# unit tests and the end-to-end tests against a real X server and sound server.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/tools/deps.sh"
velmora_install_packages "${VELMORA_BUILD_PACKAGES[@]}" "${VELMORA_E2E_PACKAGES[@]}"

build="${VELMORA_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja
cmake --build "$build"
cd "$build"
ctest --output-on-failure --timeout 300
