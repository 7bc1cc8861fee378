#!/bin/bash
# Velmora's cost on headless GNOME Shell (run by hand, not by CTest; takes
# about four times SECONDS):
#   1. the velmora process's CPU use while it tracks mpv and with nothing
#      playing, from /proc/PID/stat;
#   2. what a still desktop costs the Shell with Velmora's extension: the
#      extension's Changed signals and Windows() calls seen on the bus, and
#      the Shell's CPU and wake-ups (voluntary context switches), with the
#      extension enabled and then disabled.
# Usage: gnome_bench.sh BUILD_DIR [SECONDS]
set -u

build=${1:?usage: gnome_bench.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
velmora=$build/src/app/shell/velmora
BED_TOOL=$build/tests/e2e/velmora-e2e-tool
extension=$(sed -n 's/^VELMORA_GNOME_EXTENSION_DIR:INTERNAL=//p' "$build/CMakeCache.txt")
[ -x "$velmora" ] && [ -x "$BED_TOOL" ] && [ -f "$extension/extension.js" ] || {
  echo "build velmora, velmora-e2e-tool and velmora-gnome-extension in $build first" >&2
  exit 2
}
command -v dbus-monitor > /dev/null || {
  echo "dbus-monitor (dbus-bin) is needed to count the extension's traffic" >&2
  exit 2
}

here=$(dirname "$0")
# shellcheck source=SCRIPTDIR/../tests/e2e/testbed.sh
source "$here/../tests/e2e/testbed.sh"
# shellcheck source=SCRIPTDIR/../tests/e2e/gnome/gnome_bed.sh
source "$here/../tests/e2e/gnome/gnome_bed.sh"

ticks=$(getconf CLK_TCK)
cpuTicks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
wakeups() { awk '/^voluntary_ctxt_switches/ { v = $2 } /^nonvoluntary_ctxt_switches/ { n = $2 } END { print v + n }' /proc/"$1"/task/*/status 2> /dev/null; }
load() { cut -d' ' -f1-3 /proc/loadavg; }

# CPU share and wake-ups of process $1 over $2 seconds.
usage() {
  local pid=$1 span=$2 t0 t1 w0 w1 start end
  t0=$(cpuTicks "$pid")
  w0=$(wakeups "$pid")
  start=$EPOCHREALTIME
  sleep "$span"
  t1=$(cpuTicks "$pid")
  w1=$(wakeups "$pid")
  end=$EPOCHREALTIME
  awk -v t=$((t1 - t0)) -v w=$((w1 - w0)) -v hz="$ticks" -v s="$start" -v e="$end" \
    'BEGIN { printf "%.3f%% of one core (%d ticks), %.1f wake-ups/s, over %.1f s", 100 * t / hz / (e - s), t, w / (e - s), e - s }'
}

# Extension traffic on the session bus over $1 seconds.
traffic() {
  local log=$BED_DIR/monitor.log
  : > "$log"
  dbus-monitor --session "interface='co.quennet.Velmora.Shell'" > "$log" 2>&1 &
  local monitor=$!
  sleep "$1"
  kill "$monitor"
  wait "$monitor" 2> /dev/null
  echo "$(grep -c 'member=Changed' "$log") Changed signals, $(grep -c 'member=Windows' "$log") Windows() calls"
}

echo "load before: $(load) on $(nproc) cores"
gbed_start "$extension" enabled
gbed_start_player
BED_VELMORA_DEBUG=0
gbed_start_velmora "$velmora"
gbed_move_player 1
bed_wait 10 bed_default_is "${BED_SINKS[1]}" || bed_fail "velmora did not follow mpv"
sleep 2

echo "== velmora"
echo "tracking mpv:    $(usage "$BED_VELMORA_PID" "$seconds"), load $(load)"
bed_mpv_command '{"command": ["set_property", "pause", true]}' || bed_fail "mpv did not pause"
bed_wait 10 bed_player_stream_corked || bed_fail "mpv did not cork its stream"
sleep 3
echo "nothing playing: $(usage "$BED_VELMORA_PID" "$seconds"), load $(load)"
grep -E '^VmRSS' "/proc/$BED_VELMORA_PID/status" | tr -s ' \t' ' '

echo "== the Shell on a still desktop (mpv paused, velmora running)"
echo "extension traffic: $(traffic "$seconds")"
echo "gnome-shell, extension enabled:  $(usage "$GBED_SHELL_PID" "$seconds")"
gbed_shell_call /org/gnome/Shell org.gnome.Shell.Extensions.DisableExtension "$GBED_UUID" > /dev/null \
  || bed_fail "could not disable the extension"
sleep 2
echo "gnome-shell, extension disabled: $(usage "$GBED_SHELL_PID" "$seconds")"
echo "load after: $(load)"
