#!/bin/bash
# End-to-end routing checks on KDE Plasma: the real velmora on headless KWin
# (three virtual outputs), PipeWire, and mpv showing a Wayland window.
#   kde_e2e.sh SCENARIO VELMORA
# SCENARIO is one of the check_* functions below without its prefix. Exits 77
# (skipped) when a needed program is missing or PipeWire cannot run here.
set -u

scenario=${1:?usage: kde_e2e.sh SCENARIO VELMORA}
velmora=${2:?usage: kde_e2e.sh SCENARIO VELMORA}

here=$(dirname "$0")
# shellcheck source=SCRIPTDIR/../testbed.sh
source "$here/../testbed.sh"
# shellcheck source=SCRIPTDIR/kwin_bed.sh
source "$here/kwin_bed.sh"

# shellcheck source=SCRIPTDIR/../expect.sh
source "$here/../expect.sh"

setUp() {
  kde_bed_start
  kde_start_player
  kde_start_velmora "$velmora"
  bed_wait "$SOON" bed_log_has "KWin window script reporting" || bed_fail "the KWin script never reported"
  kde_move_player 1
  expectDefault virtual1 "window moved to the second output"
  expectAlive "after the first switch"
}

check_follow() {
  setUp
  kde_move_player 2
  expectDefault virtual2 "window moved to the third output"
  kde_move_player 0
  expectDefault virtual0 "window moved back to the first output"
  bed_log_has "ok=true" || bed_fail "no successful switch in the log"
  # Quitting takes the script out of KWin.
  kde_script_loaded || bed_fail "velmora's script is not loaded in KWin"
  kill "$BED_VELMORA_PID"
  bed_reap "$BED_VELMORA_PID"
  BED_VELMORA_PID=""
  ! kde_script_loaded || bed_fail "velmora left its script in KWin at exit"
}

check_override() {
  setUp
  afterQuietWindow
  bed_set_default virtual0 || bed_fail "could not pick virtual0 by hand"
  expectDefaultHolds virtual0 "speakers picked by hand while the window stays"
  kde_move_player 2
  expectDefault virtual2 "window moved to another output after a choice by hand"
  expectAlive "after the override"
}

check_headphones() {
  setUp
  afterQuietWindow
  bed_set_default "$BED_HEADPHONES" || bed_fail "could not pick the headphones"
  kde_move_player 2
  expectDefaultHolds "$BED_HEADPHONES" "headphones picked by hand, window moved"
  kde_move_player 0
  expectDefaultHolds "$BED_HEADPHONES" "headphones picked by hand, window moved back"
  expectAlive "after the headphones"
}

# Scaled outputs: the displays' frames must be in the logical coordinates
# of the window frames, not in the outputs' pixels.
check_scaled() {
  KDE_SCALE=2
  setUp
  kde_move_player 2
  expectDefault virtual2 "window moved to the third scaled output"
  kde_move_player 0
  expectDefault virtual0 "window moved to the first scaled output"
  expectAlive "on scaled outputs"
}

# KWin goes away and comes back (a crash, or a restart after an update): the
# player's window goes with it, velmora loads its script into the new KWin.
check_restart() {
  setUp
  kde_restart_kwin
  expectAlive "after KWin went away"
  bed_wait "$SOON" bed_gone "$BED_MPV_PID" || kill "$BED_MPV_PID" 2> /dev/null
  bed_reap "$BED_MPV_PID"
  kde_start_player
  bed_wait "$SOON" kde_script_loaded || bed_fail "velmora did not load its script into the new KWin"
  kde_move_player 2
  expectDefault virtual2 "new player's window moved after KWin restarted"
  kde_move_player 0
  expectDefault virtual0 "window moved again after the restart"
  [ "$(bed_log_count "KWin window script loaded")" -ge 2 ] || bed_fail "the script was not loaded again"
  expectAlive "after routing on the new KWin"
}

# Any client on the session bus can call velmora's object; a report claiming
# the player's window sits on the third output must change nothing.
check_forged() {
  setUp
  local name forged
  name=$(kde_velmora_bus_name)
  [ -n "$name" ] || bed_fail "could not find velmora's bus name"
  forged="{\"api\":5,\"windows\":[[$BED_MPV_PID,2700,150,480,300,true]]}"
  if dbus-send --session --print-reply --dest="$name" /org/velmora/KWinReports org.velmora.KWinReports1.Report \
    "string:$forged" > "$BED_DIR/forged.out" 2>&1; then
    bed_fail "velmora accepted a report from $(cat "$BED_DIR/forged.out")"
  fi
  grep -q AccessDenied "$BED_DIR/forged.out" || bed_fail "the forged report got $(cat "$BED_DIR/forged.out")"
  expectDefaultHolds virtual1 "forged report from another bus name"
  bed_log_has "which is not KWin" || bed_fail "the forged report was not logged"
  kde_move_player 0
  expectDefault virtual0 "real move after the forged report"
  expectAlive "after the forged report"
}

# No KWin when velmora starts: it says so once, keeps running, and follows
# windows once KWin is there.
check_nokwin() {
  kde_bed_start
  kill "$KDE_KWIN_PID"
  bed_reap "$KDE_KWIN_PID"
  kde_start_velmora "$velmora"
  bed_wait 20 bed_log_has "KWin is not on the session bus" || bed_fail "velmora did not say that KWin is missing"
  expectAlive "without KWin"
  kde_launch_kwin
  kde_wait_kwin
  kde_start_player
  bed_wait "$SOON" bed_log_has "KWin window script reporting" || bed_fail "velmora did not load its script into KWin"
  kde_move_player 1
  expectDefault virtual1 "window moved once KWin came"
  [ "$(bed_log_count "KWin is not on the session bus")" = 1 ] || bed_fail "the missing KWin was logged more than once"
  expectAlive "after KWin came"
}

declare -F "check_$scenario" > /dev/null || {
  echo "unknown scenario: $scenario" >&2
  exit 2
}
"check_$scenario"
echo "PASS: $scenario on KWin"
