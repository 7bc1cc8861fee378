#!/bin/bash
# Speed and footprint of velmora on the real-desktop test bed (run by hand,
# not by CTest; takes about five minutes):
#   1. bench_linux_desktop: one window-list read and one playingProcesses,
#      with mpv playing and tracked and 50 other windows open;
#   2. the whole velmora process's CPU use and wake-ups over SECONDS (60 by
#      default) while it tracks mpv, and over SECONDS with nothing playing,
#      from /proc/PID/stat and status;
#   3. its resident memory from /proc/PID/status, and what the resident pages
#      are made of (largest mappings from /proc/PID/smaps);
#   and 2. and 3. again for velmora_headless_probe, the same routing without
#   the Qt tray shell.
# Usage: desktop_bench.sh BUILD_DIR [pulse|pipewire] [SECONDS]
set -u

build=${1:?usage: desktop_bench.sh BUILD_DIR [pulse|pipewire] [SECONDS]}
server=${2:-pulse}
seconds=${3:-60}
velmora=$build/src/app/shell/velmora
bench=$build/bench/bench_linux_desktop
probe=$build/bench/velmora_headless_probe
BED_TOOL=$build/tests/e2e/velmora-e2e-tool
here=$(dirname "$0")
# shellcheck source=SCRIPTDIR/../tests/e2e/testbed.sh
source "$here/../tests/e2e/testbed.sh"
# shellcheck source=SCRIPTDIR/bench_common.sh
source "$here/bench_common.sh"
bench_need_built "velmora, bench_linux_desktop, velmora_headless_probe and velmora-e2e-tool" \
  "$velmora" "$bench" "$probe" "$BED_TOOL"
bench_need_command xmessage x11-utils "for the extra windows"

memory() {
  local pid=$1
  bench_memory "$pid"
  grep -E '^Pss:' "/proc/$pid/smaps_rollup" | tr -s ' ' | sed 's/^/  proportional: /'
  echo "  resident by mapping (largest first, kB):"
  awk '/^[0-9a-f]+-[0-9a-f]+ / { name = (NF >= 6) ? $6 : "[anonymous]" }
       /^Rss:/ { rss[name] += $2 }
       END { for (n in rss) if (rss[n] > 0) printf "%8d  %s\n", rss[n], n }' "/proc/$pid/smaps" \
    | sort -rn | head -n 15 | sed 's/^/  /'
  awk '/^[0-9a-f]+-[0-9a-f]+ / { name = (NF >= 6) ? $6 : "" }
       /^Rss:/ { if (name ~ /libQt6|libicu/) qt += $2; else if (name ~ /\.so/) other += $2; else rest += $2 }
       END { printf "  Qt 6 and ICU libraries %d kB, other libraries %d kB, program, heap, stacks and anonymous %d kB\n", qt, other, rest }' \
    "/proc/$pid/smaps"
}

# Runs one program on the bed: follows mpv, then measures it tracking and with
# nothing playing, then stops it.
measure() {
  local title=$1 binary=$2
  echo "== $title (${binary##*/})"
  bench_resume_player
  bed_move_player 0
  bed_set_default borealis || bed_fail "could not reset the default sink"
  bed_start_velmora "$binary"
  bed_wait 10 bed_default_is aster || bed_fail "$title did not follow mpv"
  bed_move_player 1
  bed_wait 10 bed_default_is borealis || bed_fail "$title did not follow mpv"
  # Past the start-up work before the clock starts.
  sleep 2
  memory "$BED_VELMORA_PID"
  echo "tracking mpv:"
  bench_usage "$seconds" "$BED_VELMORA_PID"
  bench_pause_player
  echo "nothing playing:"
  bench_usage "$seconds" "$BED_VELMORA_PID"
  memory "$BED_VELMORA_PID" | head -n 2
  bed_velmora_alive || bed_fail "$title exited"
  kill "$BED_VELMORA_PID"
  bed_reap "$BED_VELMORA_PID"
  BED_VELMORA_PID=""
}

echo "load before: $(bench_load) on $(nproc) cores"
bed_start "$server"
bed_start_player
# 50 more top-level windows of other processes, across the monitors.
for i in $(seq 1 50); do
  xmessage -geometry "160x40+$(((i * 73) % (BED_MONITOR_WIDTH * 3 - 200)))+$(((i * 37) % 600))" "window $i" \
    > /dev/null 2>&1 &
  BED_PIDS+=($!)
done
windowCount() { [ "$(wmctrl -l 2> /dev/null | wc -l)" -ge 51 ]; }
bed_wait 20 windowCount || bed_fail "the extra windows did not appear"
# As users run it: no debug lines.
BED_VELMORA_DEBUG=0
measure "velmora, the tray program" "$velmora"
measure "routing without the tray shell" "$probe"

echo "== reads (bench_linux_desktop), $(wmctrl -l | wc -l) windows, mpv playing"
bench_resume_player
bed_start_velmora "$velmora"
bed_move_player 2
bed_wait 10 bed_default_is cobalt || bed_fail "velmora did not follow mpv"
"$bench" --benchmark_counters_tabular=true
echo "load after: $(bench_load)"
