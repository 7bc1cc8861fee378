#!/bin/bash
# CPU use of velmora on headless KDE Plasma (KWin's virtual back end), run by
# hand: the whole process over SECONDS while it tracks mpv with 20 other
# windows open, and over SECONDS with nothing playing, from /proc/PID/stat;
# and KWin's own CPU use over the same spans, since our script runs in it.
# Usage: kde_bench.sh BUILD_DIR [SECONDS]
set -u

build=${1:?usage: kde_bench.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
velmora=$build/src/app/shell/velmora
BED_TOOL=$build/tests/e2e/velmora-e2e-tool
if [ ! -x "$velmora" ] || [ ! -x "$BED_TOOL" ]; then
  echo "missing $velmora or $BED_TOOL: build velmora and velmora-e2e-tool first" >&2
  exit 2
fi
command -v weston-flower > /dev/null || {
  echo "weston-flower (weston) is needed for the extra windows" >&2
  exit 2
}

here=$(dirname "$0")
# shellcheck source=SCRIPTDIR/../tests/e2e/testbed.sh
source "$here/../tests/e2e/testbed.sh"
# shellcheck source=SCRIPTDIR/../tests/e2e/kde/kwin_bed.sh
source "$here/../tests/e2e/kde/kwin_bed.sh"

ticks=$(getconf CLK_TCK)
cpuTicks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }

# Share of one core used by each pid over the next $1 seconds.
cpuShares() {
  local span=$1 pid start end
  shift
  local before=()
  for pid in "$@"; do before+=("$(cpuTicks "$pid")"); done
  start=$EPOCHREALTIME
  sleep "$span"
  end=$EPOCHREALTIME
  local i=0
  for pid in "$@"; do
    awk -v t=$(($(cpuTicks "$pid") - before[i])) -v hz="$ticks" -v s="$start" -v e="$end" -v who="$pid" \
      'BEGIN { printf "  pid %s: %.3f%% of one core (%d ticks in %.1f s)\n", who, 100 * t / hz / (e - s), t, e - s }'
    i=$((i + 1))
  done
}

load() { cut -d' ' -f1-3 /proc/loadavg; }

echo "load before: $(load) on $(nproc) cores"
kde_bed_start
kde_start_player
for i in $(seq 1 20); do
  weston-flower > /dev/null 2>&1 &
  BED_PIDS+=($!)
done
# As users run it: no debug lines.
BED_VELMORA_DEBUG=0
kde_start_velmora "$velmora"
bed_wait 10 bed_log_has "KWin window script reporting" || bed_fail "the KWin script never reported"
kde_move_player 1
bed_wait 10 bed_default_is virtual1 || bed_fail "velmora did not follow mpv"
kde_move_player 2
bed_wait 10 bed_default_is virtual2 || bed_fail "velmora did not follow mpv"
sleep 2
echo "tracking mpv (velmora, then KWin), load $(load):"
cpuShares "$seconds" "$BED_VELMORA_PID" "$KDE_KWIN_PID"
bed_mpv_command '{"command": ["set_property", "pause", true]}' || bed_fail "mpv did not pause"
bed_wait 10 bed_player_stream_corked || bed_fail "mpv did not cork its stream"
sleep 3
echo "nothing playing (velmora, then KWin), load $(load):"
cpuShares "$seconds" "$BED_VELMORA_PID" "$KDE_KWIN_PID"
grep -E '^VmRSS' "/proc/$BED_VELMORA_PID/status"
bed_velmora_alive || bed_fail "velmora exited"
echo "load after: $(load)"
