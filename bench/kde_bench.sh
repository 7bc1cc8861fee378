#!/bin/bash
# CPU use and wake-ups of velmora on headless KDE Plasma (KWin's virtual back
# end), run by hand: the whole process over SECONDS while it tracks mpv with 20
# other windows open, and over SECONDS with nothing playing, from /proc; and
# KWin's own over the same spans, since our script runs in it.
# Usage: kde_bench.sh BUILD_DIR [SECONDS]
set -u

build=${1:?usage: kde_bench.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
velmora=$build/src/app/shell/velmora
BED_TOOL=$build/tests/e2e/velmora-e2e-tool
here=$(dirname "$0")
# shellcheck source=SCRIPTDIR/../tests/e2e/testbed.sh
source "$here/../tests/e2e/testbed.sh"
# shellcheck source=SCRIPTDIR/../tests/e2e/kde/kwin_bed.sh
source "$here/../tests/e2e/kde/kwin_bed.sh"
# shellcheck source=SCRIPTDIR/bench_common.sh
source "$here/bench_common.sh"
bench_need_built "velmora and velmora-e2e-tool" "$velmora" "$BED_TOOL"
bench_need_command weston-flower weston "for the extra windows"

echo "load before: $(bench_load) on $(nproc) cores"
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
echo "tracking mpv:"
bench_usage "$seconds" "$BED_VELMORA_PID" "$KDE_KWIN_PID"
bench_pause_player
echo "nothing playing:"
bench_usage "$seconds" "$BED_VELMORA_PID" "$KDE_KWIN_PID"
echo "memory: $(bench_memory "$BED_VELMORA_PID")"
bed_velmora_alive || bed_fail "velmora exited"
echo "load after: $(bench_load)"
