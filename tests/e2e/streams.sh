# shellcheck shell=bash
# Where the player's own stream plays, whatever the desktop: mpv's stream
# pinned to a sink by hand, as a mixer does, with module-stream-restore (or
# WirePlumber) putting a restarted player back on its pin. Sourced after
# testbed.sh and expect.sh by a suite that defines
#   bedUp       the bed, with the player on the first display, whose speakers
#               are the default
#   playerUp    the player started again after bed_stop_player
#   velmoraUp   velmora started, and seen to follow windows

# The sink of the display that holds the player's window.
playerDisplaySink() {
  local i
  for i in "${!BED_SINKS[@]}"; do
    if bed_player_on "$i"; then
      echo "${BED_SINKS[$i]}"
      return 0
    fi
  done
  return 1
}

check_pinned() {
  bedUp
  bed_pin_player "${BED_SINKS[2]}" || bed_fail "could not pin the player to ${BED_SINKS[2]}"
  velmoraUp
  expectPlayerOn "${BED_SINKS[0]}" "started with the player pinned to the third display's speakers"
  expectDefaultHolds "${BED_SINKS[0]}" "started with the player pinned elsewhere" "${BED_SINKS[0]}"

  # Pinned by hand while followed: the user's choice while the window stays;
  # the sound goes with the default once the window moves.
  bed_pin_player "${BED_SINKS[2]}" || bed_fail "could not pin the player to ${BED_SINKS[2]} again"
  expectDefaultHolds "${BED_SINKS[0]}" "player pinned by hand while followed" "${BED_SINKS[2]}"
  bed_log_has "user override anchored" || bed_fail "the pin by hand was not taken for the user's choice"
  bed_move_player 1
  expectDefault "${BED_SINKS[1]}" "window moved after the pin by hand"
  expectPlayerOn "${BED_SINKS[1]}" "window moved after the pin by hand"

  # The server puts a restarted player back on its pin; velmora brings it to
  # its window's display.
  afterQuietWindow
  bed_pin_player "${BED_SINKS[2]}" || bed_fail "could not pin the player before its restart"
  afterQuietWindow
  bed_stop_player
  playerUp
  echo "the restarted player plays on $(bed_player_sink) at first"
  bed_wait 5 playerDisplaySink > /dev/null || bed_fail "the restarted player's window is on no display"
  local sink
  sink=$(playerDisplaySink)
  expectPlayerOn "$sink" "player restarted with a pin, its window on $sink's display"
  expectDefault "$sink" "player restarted with a pin, its window on $sink's display"
  expectAlive "after the pins"
}

# Whether velmora has seen the player on a device outside the displays $1
# times.
seenOutside() { (($(bed_log_count "tracked app plays on external output") >= $1)); }

# A player pinned to the headphones is left there, and the default with it.
check_pinnedphones() {
  bedUp
  bed_pin_player "$BED_HEADPHONES" || bed_fail "could not pin the player to the headphones"
  velmoraUp
  bed_wait "$SOON" seenOutside 1 || bed_fail "velmora did not see the player on the headphones"
  bed_move_player 1
  expectDefaultHolds "${BED_SINKS[0]}" "window moved, the player on the headphones" "$BED_HEADPHONES"

  bed_stop_player
  playerUp
  bed_wait "$SOON" seenOutside 2 || bed_fail "velmora did not see the restarted player on the headphones"
  expectDefaultHolds "${BED_SINKS[0]}" "player restarted with its pin on the headphones" "$BED_HEADPHONES"
  expectAlive "after the headphones pin"
}
