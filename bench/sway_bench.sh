#!/bin/bash
# Speed and footprint of velmora on a sway session (the headless sway bed of
# the end-to-end tests), run by hand, about three minutes:
#   1. the whole velmora process's CPU use and wake-ups over SECONDS while it
#      tracks mpv with 30 other windows open, and over SECONDS with nothing
#      playing, from /proc; sway's own over the same spans;
#   2. velmora's resident memory from /proc/PID/status;
#   3. bench_linux_desktop: one read of the window list (a copy of the
#      snapshot kept from sway's events) and of the player's windows.
# Usage: sway_bench.sh BUILD_DIR [pulse|pipewire] [SECONDS]
# Run as root, it runs itself as nobody, since sway refuses root.
set -u

here=$(dirname "$0")
# shellcheck source=SCRIPTDIR/../tests/e2e/testbed.sh
source "$here/../tests/e2e/testbed.sh"
# shellcheck source=SCRIPTDIR/../tests/e2e/sway/swaybed.sh
source "$here/../tests/e2e/sway/swaybed.sh"
# shellcheck source=SCRIPTDIR/bench_common.sh
source "$here/bench_common.sh"

if [ "${1:-}" = --staged ]; then
  server=$2 seconds=$3 velmora=$4 bench=$5 BED_TOOL=$6
else
  usage="usage: sway_bench.sh BUILD_DIR [pulse|pipewire] [SECONDS]"
  build=${1:?$usage}
  server=${2:-pipewire}
  seconds=${3:-60}
  velmora=$build/src/app/shell/velmora
  bench=$build/bench/bench_linux_desktop
  BED_TOOL=$build/tests/e2e/velmora-e2e-tool
  bench_need_built "velmora, bench_linux_desktop and velmora-e2e-tool" "$velmora" "$bench" "$BED_TOOL"
  bench_need_command foot foot "for the extra windows"
  sway_bed_as_nobody "$0" --staged "$server" "$seconds" -- "$velmora" "$bench" "$BED_TOOL"
fi

windowCount() { swaymsg -t get_tree -r 2> /dev/null | jq '[.. | objects | select(.pid?)] | length'; }
enoughWindows() { [ "$(windowCount)" -ge 31 ]; }

echo "load before: $(bench_load) on $(nproc) cores"
# The extra windows float on the first output, so the player keeps a whole
# output to itself: sway 1.12 floats a window moved onto a workspace that
# holds only floating ones.
SWAY_BED_EXTRA_CONFIG='for_window [app_id="foot"] floating enable, move container to output HEADLESS-1'
sway_bed_start "$server"
sway_bed_start_player
for i in $(seq 1 30); do
  foot sleep 100000 > /dev/null 2>&1 &
  BED_PIDS+=($!)
done
bed_wait 30 enoughWindows || sway_bed_fail "the extra windows did not appear ($(windowCount) windows)"

# As users run it: no debug lines.
BED_VELMORA_DEBUG=0
bed_start_velmora "$velmora"
bed_move_player 1
bed_wait 10 bed_default_is headless2 || sway_bed_fail "velmora did not follow mpv"
bed_move_player 2
bed_wait 10 bed_default_is headless3 || sway_bed_fail "velmora did not follow mpv"
# Past the start-up work before the clock starts.
sleep 2
echo "$(windowCount) windows; memory: $(bench_memory "$BED_VELMORA_PID")"
echo "tracking mpv:"
bench_usage "$seconds" "$BED_VELMORA_PID" "$SWAY_PID"
bench_pause_player
echo "nothing playing:"
bench_usage "$seconds" "$BED_VELMORA_PID" "$SWAY_PID"
echo "memory: $(bench_memory "$BED_VELMORA_PID")"
bed_velmora_alive || sway_bed_fail "velmora exited"

echo "== reads (bench_linux_desktop), $(windowCount) windows, mpv playing"
bench_resume_player
"$bench" --benchmark_counters_tabular=true
echo "load after: $(bench_load)"
