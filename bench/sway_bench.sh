#!/bin/bash
# Speed and footprint of velmora on a sway session (the headless sway bed of
# the end-to-end tests), run by hand, about three minutes:
#   1. the whole velmora process's CPU use over SECONDS while it tracks mpv
#      with 30 other windows open, and over SECONDS with nothing playing, from
#      /proc/PID/stat; sway's own CPU use over the same spans;
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
  for program in "$velmora" "$bench" "$BED_TOOL"; do
    [ -x "$program" ] || {
      echo "missing $program: build velmora, bench_linux_desktop and velmora-e2e-tool first" >&2
      exit 2
    }
  done
  command -v foot > /dev/null || {
    echo "foot is needed for the extra windows" >&2
    exit 2
  }
  sway_bed_as_nobody "$0" --staged "$server" "$seconds" -- "$velmora" "$bench" "$BED_TOOL"
fi

ticks=$(getconf CLK_TCK)
cpuTicks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }

# Share of one core used by each pid over the next $1 seconds.
cpuShares() {
  local span=$1 pid start end i=0 before=()
  shift
  for pid in "$@"; do before+=("$(cpuTicks "$pid")"); done
  start=$EPOCHREALTIME
  sleep "$span"
  end=$EPOCHREALTIME
  for pid in "$@"; do
    awk -v t=$(($(cpuTicks "$pid") - before[i])) -v hz="$ticks" -v s="$start" -v e="$end" -v who="$pid" \
      'BEGIN { printf "  pid %s: %.3f%% of one core (%d ticks in %.1f s)\n", who, 100 * t / hz / (e - s), t, e - s }'
    i=$((i + 1))
  done
}

load() { cut -d' ' -f1-3 /proc/loadavg; }
memory() { grep -E '^(VmRSS|RssAnon|RssFile|VmHWM):' "/proc/$1/status" | tr -s ' \t' ' ' | paste -sd' '; }
windowCount() { swaymsg -t get_tree -r 2> /dev/null | jq '[.. | objects | select(.pid?)] | length'; }
enoughWindows() { [ "$(windowCount)" -ge 31 ]; }

echo "load before: $(load) on $(nproc) cores"
# The extra windows float, so the player keeps a whole output to itself.
SWAY_BED_EXTRA_CONFIG='for_window [app_id="foot"] floating enable'
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
echo "$(windowCount) windows; memory: $(memory "$BED_VELMORA_PID")"
echo "tracking mpv (velmora, then sway), load $(load):"
cpuShares "$seconds" "$BED_VELMORA_PID" "$SWAY_PID"
bed_mpv_command '{"command": ["set_property", "pause", true]}' || sway_bed_fail "mpv did not pause"
bed_wait 10 bed_player_stream_corked || sway_bed_fail "mpv did not cork its stream"
# Forgotten 2 s after it was last heard.
sleep 3
echo "nothing playing (velmora, then sway), load $(load):"
cpuShares "$seconds" "$BED_VELMORA_PID" "$SWAY_PID"
echo "memory: $(memory "$BED_VELMORA_PID")"
bed_velmora_alive || sway_bed_fail "velmora exited"

echo "== reads (bench_linux_desktop), $(windowCount) windows, mpv playing"
bed_mpv_command '{"command": ["set_property", "pause", false]}' || sway_bed_fail "mpv did not resume"
bed_wait 10 bed_player_stream_running || sway_bed_fail "mpv is not playing"
"$bench" --benchmark_counters_tabular=true
echo "load after: $(load)"
