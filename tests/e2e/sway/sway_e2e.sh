#!/bin/bash
# End-to-end routing checks on a sway session: the real velmora, headless
# sway with three outputs, a real sound server and mpv as a native Wayland
# client (swaybed.sh).
#   sway_e2e.sh SERVER SCENARIO VELMORA TOOL
# SERVER is pulse or pipewire; SCENARIO is one of the check_* functions below
# without its prefix. Exits 77 (skipped) when a needed program is missing.
set -u

usage="usage: sway_e2e.sh SERVER SCENARIO VELMORA TOOL"
server=${1:?$usage}
scenario=${2:?$usage}
velmora=${3:?$usage}
BED_TOOL=${4:?$usage}
here=$(dirname "$0")

# shellcheck source=SCRIPTDIR/../testbed.sh
source "$here/../testbed.sh"
# shellcheck source=SCRIPTDIR/swaybed.sh
source "$here/swaybed.sh"
sway_bed_as_nobody "$0" "$server" "$scenario" -- "$velmora" "$BED_TOOL"

EXPECT_FAIL=sway_bed_fail
# shellcheck source=SCRIPTDIR/../expect.sh
source "$here/../expect.sh"

bedUp() {
  sway_bed_start "$server"
  sway_bed_start_player
}
playerUp() { sway_bed_start_player; }
velmoraUp() {
  bed_start_velmora "$velmora"
  bed_wait 5 bed_log_has "session: sway" || sway_bed_fail "velmora did not choose the sway session"
}
# shellcheck source=SCRIPTDIR/../streams.sh
source "$here/../streams.sh"

# The player on the first output (whose speakers are the default) and velmora
# following it onto the second, which proves it tracks the player.
setUp() {
  bedUp
  velmoraUp
  # The window reports show that the window list comes from sway.
  bed_wait "$SOON" bed_log_has "window rect=" || sway_bed_fail "velmora reported no window of the player"
  bed_move_player 1
  expectDefault headless2 "window moved to the second output"
  expectAlive "after the first switch"
}

check_follow() {
  setUp
  # The third output is scaled: its layout coordinates are half its pixels.
  bed_move_player 2
  expectDefault headless3 "window moved to the scaled third output"
  bed_move_player 0
  expectDefault headless1 "window moved back to the first output"
  bed_log_has "ok=true" || sway_bed_fail "no successful switch in the log"
  expectAlive "after following the window"
}

check_override() {
  setUp
  afterQuietWindow
  bed_set_default headless3 || sway_bed_fail "could not pick headless3 by hand"
  expectDefaultHolds headless3 "speakers picked by hand while the window stays"
  # Floating and moved within its output keeps the choice too.
  swaymsg "[pid=$BED_MPV_PID] floating enable, move position 100 100" > /dev/null
  bed_wait 5 bed_player_on 1 || sway_bed_fail "the floating window left the second output"
  expectDefaultHolds headless3 "window moved within its output"
  bed_move_player 0
  expectDefault headless1 "window moved to another output after a choice by hand"
  expectAlive "after the override"
}

check_headphones() {
  setUp
  afterQuietWindow
  bed_set_default "$BED_HEADPHONES" || sway_bed_fail "could not pick the headphones"
  bed_move_player 2
  expectDefaultHolds "$BED_HEADPHONES" "headphones picked by hand, window moved"
  bed_move_player 0
  expectDefaultHolds "$BED_HEADPHONES" "headphones picked by hand, window moved back"
  bed_set_default headless2 || sway_bed_fail "could not pick headless2 by hand"
  bed_move_player 2
  expectDefault headless3 "window moved after going back to display speakers"
  expectAlive "after the headphones"
}

check_pause() {
  setUp
  bed_mpv_command '{"command": ["set_property", "pause", true]}' || sway_bed_fail "mpv did not take the pause command"
  bed_wait "$SOON" bed_player_stream_corked || sway_bed_fail "pausing mpv did not cork its stream"
  bed_wait "$SOON" bed_window_reports_stopped || sway_bed_fail "velmora kept following the paused player"
  bed_move_player 2
  expectDefaultHolds headless2 "window of a paused player moved"
  bed_mpv_command '{"command": ["set_property", "pause", false]}' || sway_bed_fail "mpv did not take the resume command"
  expectDefault headless3 "player resumed on the third output"
  expectAlive "after the pause"
}

check_hotplug() {
  setUp
  sway_bed_add_output
  bed_move_player 3
  expectDefault headless4 "window moved to the output added while velmora ran"
  bed_move_player 0
  expectDefault headless1 "window moved back from the new output"
  expectAlive "after the new output"
}

declare -F "check_$scenario" > /dev/null || {
  echo "unknown scenario: $scenario" >&2
  exit 2
}
"check_$scenario"
echo "PASS: $scenario on sway with $server"
