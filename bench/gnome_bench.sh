#!/bin/bash
# Velmora's cost on headless GNOME Shell (run by hand, not by CTest; takes
# about four times SECONDS):
#   1. the velmora process's CPU use and wake-ups while it tracks mpv and
#      with nothing playing, from /proc/PID/stat and status;
#   2. what a still desktop costs the Shell with Velmora's extension: the
#      extension's Changed signals and Windows() calls, and the top-bar
#      menu's Changed signals and GetLayout() calls, seen on the bus, and
#      the Shell's CPU and wake-ups (context switches), with the
#      extension enabled and then disabled.
# Usage: gnome_bench.sh BUILD_DIR [SECONDS]
set -u

build=${1:?usage: gnome_bench.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
velmora=$build/src/app/shell/velmora
BED_TOOL=$build/tests/e2e/velmora-e2e-tool
extension=$(sed -n 's/^VELMORA_GNOME_EXTENSION_DIR:INTERNAL=//p' "$build/CMakeCache.txt")
here=$(dirname "$0")
# shellcheck source=SCRIPTDIR/../tests/e2e/testbed.sh
source "$here/../tests/e2e/testbed.sh"
# shellcheck source=SCRIPTDIR/../tests/e2e/gnome/gnome_bed.sh
source "$here/../tests/e2e/gnome/gnome_bed.sh"
# shellcheck source=SCRIPTDIR/bench_common.sh
source "$here/bench_common.sh"
bench_need_built "velmora and velmora-e2e-tool" "$velmora" "$BED_TOOL"
[ -f "$extension/extension.js" ] || bench_die "no extension at '$extension': build velmora-gnome-extension in $build first"
bench_need_command dbus-monitor dbus-bin "to count the extension's traffic"

# Extension traffic on the session bus over $1 seconds.
traffic() {
  local log=$BED_DIR/monitor.log
  : > "$log"
  dbus-monitor --session "interface='co.quennet.Velmora.Shell'" "interface='co.quennet.Velmora.Menu'" > "$log" 2>&1 &
  local monitor=$!
  sleep "$1"
  kill "$monitor"
  wait "$monitor" 2> /dev/null
  echo "$(grep -c 'Shell; member=Changed' "$log") Changed signals, $(grep -c 'member=Windows' "$log") Windows() calls;" \
    "menu: $(grep -c 'Menu; member=Changed' "$log") Changed signals, $(grep -c 'member=GetLayout' "$log") GetLayout() calls"
}

echo "load before: $(bench_load) on $(nproc) cores"
gbed_start "$extension" enabled
gbed_start_player
BED_VELMORA_DEBUG=0
gbed_start_velmora "$velmora"
gbed_move_player 1
bed_wait 10 bed_default_is "${BED_SINKS[1]}" || bed_fail "velmora did not follow mpv"
sleep 2

echo "== velmora"
echo "tracking mpv:"
bench_usage "$seconds" "$BED_VELMORA_PID"
bench_pause_player
echo "nothing playing:"
bench_usage "$seconds" "$BED_VELMORA_PID"
echo "memory: $(bench_memory "$BED_VELMORA_PID")"

echo "== the Shell on a still desktop (mpv paused, velmora running)"
echo "extension traffic: $(traffic "$seconds")"
echo "gnome-shell, extension enabled:"
bench_usage "$seconds" "$GBED_SHELL_PID"
gbed_shell_call /org/gnome/Shell org.gnome.Shell.Extensions.DisableExtension "$GBED_UUID" > /dev/null \
  || bed_fail "could not disable the extension"
sleep 2
echo "gnome-shell, extension disabled:"
bench_usage "$seconds" "$GBED_SHELL_PID"
echo "load after: $(bench_load)"
