# shellcheck shell=bash
# Where the player's own stream plays, whatever the desktop: mpv's stream
# pinned to a sink by hand, as a mixer does, with module-stream-restore (or
# WirePlumber) putting a restarted player back on its pin. Sourced after
# testbed.sh and expect.sh by a suite that defines
#   bedUp       the bed, with the player on the first display, whose speakers
#               are the default
#   playerUp    the player started again after bed_stop_player
#   velmoraUp   velmora started, and seen to follow windows
# and names its sound server in $server.

# A pin the server never carries out says nothing of velmora. Most were
# pactl's (see bed_pin_player); should PipeWire still drop one with velmora
# doing nothing since, the run ends with SERVER_FAULT and the check runs again
# in a new bed, three times in all.
SERVER_FAULT=75
streamsRunGuarded() {
  [ -z "${VELMORA_E2E_ATTEMPT:-}" ] || return 0
  local attempt status
  for attempt in 1 2 3; do
    VELMORA_E2E_ATTEMPT=$attempt bash "$@"
    status=$?
    [ "$status" = "$SERVER_FAULT" ] || exit "$status"
    echo "the sound server failed attempt $attempt of the check"
  done
  exit 1
}

: "${server:?}" "${scenario:?}"
case "$server:$scenario" in
  pipewire:pinned*) streamsRunGuarded "$0" "$@" ;;
esac
STREAMS_FAIL=${EXPECT_FAIL:-bed_fail}

# What velmora has done to the output: switches and moves of streams.
routingActs() {
  local moves switches
  moves=$(bed_log_count "moving stream")
  switches=$(bed_log_count "switch target=")
  echo $((${moves:-0} + ${switches:-0}))
}

# Fails the check, unless velmora has done nothing to the output since the
# pin on PipeWire: then the server alone is at fault.
streamFault() {
  if [ "$server" = pipewire ] && [ -n "${ACTS_AT_PIN:-}" ] && (($(routingActs) == ACTS_AT_PIN)); then
    echo "SERVER FAULT: $*, with nothing done by velmora since the pin"
    bed_dump
    exit "$SERVER_FAULT"
  fi
  "$STREAMS_FAIL" "$@"
}

# Pins the player to $1 by hand, as a mixer does.
pinPlayer() {
  ACTS_AT_PIN=$(routingActs)
  bed_pin_player "$1" || streamFault "could not pin the player to $1 ($2)"
}

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
  pinPlayer "${BED_SINKS[2]}" "before velmora"
  velmoraUp
  expectPlayerOn "${BED_SINKS[0]}" "started with the player pinned to the third display's speakers"
  expectDefaultHolds "${BED_SINKS[0]}" "started with the player pinned elsewhere" "${BED_SINKS[0]}"

  # Pinned by hand while followed: the user's choice while the window stays;
  # the sound goes with the default once the window moves.
  pinPlayer "${BED_SINKS[2]}" "while followed"
  EXPECT_FAIL=streamFault expectDefaultHolds "${BED_SINKS[0]}" "player pinned by hand while followed" "${BED_SINKS[2]}"
  bed_log_has "user override anchored" || bed_fail "the pin by hand was not taken for the user's choice"
  bed_move_player 1
  expectDefault "${BED_SINKS[1]}" "window moved after the pin by hand"
  expectPlayerOn "${BED_SINKS[1]}" "window moved after the pin by hand"

  # The server puts a restarted player back on its pin; velmora brings it to
  # its window's display.
  afterQuietWindow
  pinPlayer "${BED_SINKS[2]}" "before its restart"
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
  pinPlayer "$BED_HEADPHONES" "the headphones"
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
