#!/usr/bin/env bash
# Installs what is needed, builds the tray application and starts it on the
# current desktop (X11 session with PulseAudio or PipeWire).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/tools/deps.sh"
velmora_install_packages "${VELMORA_BUILD_PACKAGES[@]}"

build="$root/build"
cmake -S "$root" -B "$build" -G Ninja -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target velmora >/dev/null
exec "$build/src/app/shell/velmora" "$@"
