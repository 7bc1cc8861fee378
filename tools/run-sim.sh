#!/usr/bin/env bash
# Installs what is needed, builds velmora-sim and runs it on a scenario.
# Usage: tools/run-sim.sh [--trace] [SCENARIO.json]   (default: examples/switch-on-move.json)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/tools/deps.sh"
velmora_install_packages "${VELMORA_BUILD_PACKAGES[@]}"

# The folder tools/test.sh uses, configured with whatever options it already
# has, and only velmora-sim built: running either script first is fine.
build="${VELMORA_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target velmora-sim >/dev/null

args=()
scenario=""
for a in "$@"; do
  if [ "$a" = "--trace" ]; then args+=("$a"); else scenario="$a"; fi
done
exec "$build/src/cli/velmora-sim" "${args[@]}" "${scenario:-$root/examples/switch-on-move.json}"
