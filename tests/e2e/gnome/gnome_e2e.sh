#!/bin/bash
# End-to-end routing checks on GNOME Shell (Wayland): the real velmora with
# its Shell extension, headless GNOME Shell, PipeWire and mpv.
#   gnome_e2e.sh SCENARIO VELMORA EXTENSION_DIR
# Exits 77 (skipped) when a needed program is missing or PipeWire cannot run.
set -u

scenario=${1:?usage: gnome_e2e.sh SCENARIO VELMORA EXTENSION_DIR}
velmora=${2:?usage: gnome_e2e.sh SCENARIO VELMORA EXTENSION_DIR}
extension=${3:?usage: gnome_e2e.sh SCENARIO VELMORA EXTENSION_DIR}
here=$(dirname "$0")

# shellcheck source=SCRIPTDIR/../testbed.sh
source "$here/../testbed.sh"
# shellcheck source=SCRIPTDIR/gnome_bed.sh
source "$here/gnome_bed.sh"

bed_fail() {
  echo "FAIL: $*"
  bed_dump
  gbed_dump
  exit 1
}

# shellcheck source=SCRIPTDIR/../expect.sh
source "$here/../expect.sh"
# Velmora believes a missing extension only after its grace period (10 s).
MESSAGE_WITHIN=30
MISSING_LINE="GNOME Shell extension velmora@quennet.co is not running"


startVelmora() {
  gbed_start_velmora "$velmora"
  bed_wait "$SOON" bed_log_has "session: gnome (Wayland)" || bed_fail "velmora did not choose the GNOME session"
}

# mpv on the first (scaled) monitor, whose speakers are the default, and
# velmora following it onto the second one.
setUp() {
  gbed_start "$extension" enabled
  gbed_start_player
  startVelmora
  bed_wait "$SOON" bed_log_has "extension velmora@quennet.co connected" || bed_fail "velmora did not find the extension"
  gbed_move_player 1
  expectDefault "${BED_SINKS[1]}" "window moved to the second monitor"
  expectAlive "after the first switch"
}

check_follow() {
  setUp
  # Nobody else on the bus may read the window list.
  local refused
  refused=$(gbed_shell_call /co/quennet/Velmora/Shell co.quennet.Velmora.Shell.Windows 2>&1) &&
    bed_fail "another client read the window list: $refused"
  grep -q AccessDenied <<< "$refused" || bed_fail "another client's Windows() was not refused: $refused"
  gbed_move_player 0
  expectDefault "${BED_SINKS[0]}" "window moved back to the scaled monitor"
  gbed_move_player 1
  expectDefault "${BED_SINKS[1]}" "window moved to the second monitor again"
  bed_log_has "switch target=" || bed_fail "no switch line in the log"
  expectAlive "after following the window"
}

# The same with the Shell measuring its layout in logical pixels.
check_logical() {
  GBED_LAYOUT=logical
  check_follow
}

check_override() {
  setUp
  afterQuietWindow
  bed_set_default "${BED_SINKS[0]}" || bed_fail "could not pick ${BED_SINKS[0]} by hand"
  expectDefaultHolds "${BED_SINKS[0]}" "speakers picked by hand while the window stays"
  gbed_test MoveWindow "$BED_MPV_PID" $((GBED_MONITOR_X[1] + 600)) 300 > /dev/null ||
    bed_fail "could not move the window within its monitor"
  expectDefaultHolds "${BED_SINKS[0]}" "window moved within its monitor"
  gbed_move_player 0
  # The default already is this monitor's speakers: hold long enough for
  # velmora's window poll to see the move before the window goes back.
  expectDefaultHolds "${BED_SINKS[0]}" "window moved to another monitor after a choice by hand"
  gbed_move_player 1
  expectDefault "${BED_SINKS[1]}" "window moved back after a choice by hand"
  expectAlive "after the override"
}

check_headphones() {
  setUp
  afterQuietWindow
  bed_set_default "$BED_HEADPHONES" || bed_fail "could not pick the headphones"
  gbed_move_player 0
  expectDefaultHolds "$BED_HEADPHONES" "headphones picked by hand, window moved"
  gbed_move_player 1
  expectDefaultHolds "$BED_HEADPHONES" "headphones picked by hand, window moved back"
  expectAlive "after the headphones"
}

# Installed but not enabled: velmora says so once and keeps running; enabled
# while it runs, it is found without a restart of either.
check_disabled() {
  gbed_start "$extension" disabled
  gbed_start_player_unseen
  startVelmora
  bed_wait "$MESSAGE_WITHIN" bed_log_has "$MISSING_LINE" || bed_fail "no message about the missing extension"
  expectAlive "with the extension disabled"
  sleep 2
  [ "$(bed_log_count "$MISSING_LINE")" = 1 ] || bed_fail "the missing extension was logged more than once"
  gbed_shell_call /org/gnome/Shell org.gnome.Shell.Extensions.EnableExtension "$GBED_UUID" > /dev/null \
    || bed_fail "could not enable the extension"
  bed_wait "$SOON" gbed_extension_up || bed_fail "the extension did not come up when enabled"
  bed_wait "$SOON" bed_log_has "extension velmora@quennet.co connected" || bed_fail "velmora did not find the extension"
  gbed_move_player 1
  expectDefault "${BED_SINKS[1]}" "window moved once the extension was enabled"
  expectAlive "after the extension was enabled"
}

# mpv without the extension's help to see its window: started, and given
# time to play.
gbed_start_player_unseen() {
  bed_make_tone
  WAYLAND_DISPLAY=$GBED_WAYLAND mpv --no-config --msg-level=all=warn --ao=pulse --vo=wlshm --force-window=yes \
    --loop-file=inf --idle=yes --geometry=480x270 --input-ipc-server="$BED_DIR/mpv.sock" "$BED_DIR/tone.wav" \
    >> "$BED_DIR/mpv.log" 2>&1 &
  BED_MPV_PID=$!
  bed_wait 20 bed_player_stream_running || bed_fail "mpv did not start playing"
}

check_restart() {
  setUp
  kill "$BED_MPV_PID" 2> /dev/null
  bed_reap "$BED_MPV_PID"
  gbed_restart_shell
  expectAlive "after the Shell restarted"
  gbed_start_player
  bed_wait "$SOON" bed_log_has "GNOME Shell left the session bus" || bed_fail "velmora did not see the Shell go"
  gbed_move_player 1
  expectDefault "${BED_SINKS[1]}" "window moved after the Shell restarted"
  gbed_move_player 0
  expectDefault "${BED_SINKS[0]}" "window moved back after the Shell restarted"
  expectAlive "after routing on the new Shell"
}

topbarIs() { [ "$(gbed_topbar | jq -r "$1")" = "$2" ]; }
topbarShown() { topbarIs .shown true; }
topbarHidden() { topbarIs .shown false; }

# A speakers menu per monitor, automatic pairing first, the devices after:
# there once velmora has read the displays, a moment after the menu shows.
topbarHasSpeakers() {
  gbed_topbar | jq -e '[.layout[] | select(.type == "submenu") | .title | startswith("Speakers for ")] == [true, true]
    and ([.layout[] | select(.parent != "" and (.id | endswith(".auto"))) | .title
          | startswith("Automatic (by name)")] == [true, true])' > /dev/null
}

# The top bar's menu as drawn is velmora's, as its tray shows it without Alt.
expectTopBarMenu() {
  bed_wait "$SOON" topbarHasSpeakers || bed_fail "the top-bar menu lacks the speakers menus: $(gbed_topbar)"
  local topbar
  topbar=$(gbed_topbar) || bed_fail "no answer from the test route"
  jq -e '.menu == (.layout | map({id, type, title, enabled, checked, visible: (.visible and (.alternate | not))}))' \
    <<< "$topbar" > /dev/null || bed_fail "the top-bar menu is not velmora's: $topbar"
  jq -e '[.menu[] | select(.visible and (.id | startswith("speakers.") or . == "after-speakers" | not)) | .title][1:] == ["",
    "About Velmora", "Check for Updates\u2026", "Launch at login", "Send crash reports", "", "Quit Velmora"]
    and .accessibleName == "Velmora \u2014 " + .menu[0].title' \
    <<< "$topbar" > /dev/null || bed_fail "the top-bar menu lacks velmora's items: $topbar"
}

# No tray host: the extension shows velmora's menu in the top bar, with its
# items and states, its icon following the status; a toggle and Quit work
# through it.
check_topbar() {
  gbed_start "$extension" enabled
  startVelmora
  bed_wait "$SOON" topbarShown || bed_fail "no indicator in the top bar: $(gbed_topbar)"
  expectTopBarMenu
  topbarIs .icon MenuBarIcon-idle || bed_fail "not the idle icon: $(gbed_topbar)"
  # A fresh install turns launch at login on.
  bed_wait "$SOON" topbarIs '.menu[] | select(.id == "launch-at-login") | .checked' true ||
    bed_fail "launch at login is not checked: $(gbed_topbar)"
  gbed_test ActivateTopBarItem launch-at-login > /dev/null || bed_fail "could not choose launch at login"
  bed_wait "$SOON" topbarIs '.menu[] | select(.id == "launch-at-login") | .checked' false ||
    bed_fail "launch at login was not turned off: $(gbed_topbar)"
  # Alt held with the menu open shows the diagnostics instead of About.
  gbed_test OpenTopBarMenu
  gbed_test PressAlt true
  bed_wait "$SOON" topbarIs '[.menu[] | select(.id == "about" or .id == "diagnostics") | .visible] | tostring' \
    '[false,true]' ||
    bed_fail "Alt did not show the diagnostics: $(gbed_topbar)"
  gbed_test PressAlt false
  bed_wait "$SOON" topbarIs '[.menu[] | select(.id == "about" or .id == "diagnostics") | .visible] | tostring' \
    '[true,false]' ||
    bed_fail "releasing Alt did not bring About back: $(gbed_topbar)"
  gbed_start_player
  bed_wait "$SOON" topbarIs .icon MenuBarIcon || bed_fail "the icon does not show tracking: $(gbed_topbar)"
  expectTopBarMenu
  # The second monitor's speakers chosen in its speakers menu: checked there,
  # and automatic pairing again once chosen.
  local menu pick
  menu=$(gbed_topbar | jq -r '.layout[] | select(.title | endswith("(Meta-0)")) | .id')
  pick=$(gbed_topbar | jq -r --arg m "$menu" '.layout[] | select(.parent == $m and .title == "Meta-1 Speakers") | .id')
  [ -n "$pick" ] || bed_fail "no Meta-1 Speakers in the speakers menu of Meta-0: $(gbed_topbar)"
  gbed_test ActivateTopBarItem "$pick" > /dev/null || bed_fail "could not choose speakers for Meta-0"
  bed_wait "$SOON" topbarIs ".menu[] | select(.id == \"$pick\") | .checked" true ||
    bed_fail "the chosen speakers are not checked: $(gbed_topbar)"
  gbed_test ActivateTopBarItem "$menu.auto" > /dev/null || bed_fail "could not choose automatic pairing"
  bed_wait "$SOON" topbarIs ".menu[] | select(.id == \"$menu.auto\") | .checked" true ||
    bed_fail "automatic pairing is not checked again: $(gbed_topbar)"
  gbed_test ActivateTopBarItem quit > /dev/null || bed_fail "could not choose Quit"
  bed_wait "$SOON" bed_gone "$BED_VELMORA_PID" || bed_fail "velmora did not quit"
  local status=0
  wait "$BED_VELMORA_PID" || status=$?
  BED_VELMORA_PID=""
  [ "$status" = 0 ] || bed_fail "velmora quit with status $status"
  bed_wait "$SOON" topbarHidden || bed_fail "the indicator stayed after velmora quit"
}

# Where a tray host exists the top bar shows nothing; the indicator comes
# when the host goes, goes when velmora is killed and comes back with it.
check_indicator() {
  gbed_start "$extension" enabled
  gjs "$GBED_TOOL" own org.kde.StatusNotifierWatcher &
  local host=$!
  BED_PIDS+=("$host")
  bed_wait "$SOON" gbed_name_owned org.kde.StatusNotifierWatcher || bed_fail "the stand-in tray host did not start"
  startVelmora
  bed_wait "$SOON" gbed_name_owned co.quennet.Velmora || bed_fail "velmora did not offer its menu"
  local tries=$((HOLD * 10))
  while ((tries-- > 0)); do
    topbarHidden || bed_fail "an indicator beside a tray host: $(gbed_topbar)"
    sleep 0.1
  done
  kill "$host"
  bed_wait "$SOON" topbarShown || bed_fail "no indicator once the tray host left"
  kill -9 "$BED_VELMORA_PID"
  bed_reap "$BED_VELMORA_PID"
  bed_wait "$SOON" topbarHidden || bed_fail "the indicator stayed after velmora was killed"
  startVelmora
  bed_wait "$SOON" topbarShown || bed_fail "no indicator once velmora was back"
  expectTopBarMenu
}

declare -F "check_$scenario" > /dev/null || {
  echo "unknown scenario: $scenario" >&2
  exit 2
}
"check_$scenario"
echo "PASS: $scenario on GNOME Shell"
