# What every end-to-end scenario expects of the default sink and of where the
# player's stream plays, whatever the desktop. Sourced after testbed.sh; a bed with a failure handler of its own
# names it in EXPECT_FAIL.

# Limits for things that must happen: a switch comes 0.3 s after the window
# is seen (polled every 250 ms), so 10 s leaves room for a loaded machine.
SOON=10
# How long the default must hold where nothing may switch it: several window
# polls and more than one audio poll.
HOLD=2

expectDefault() {
  local sink=$1 why=$2
  bed_wait "$SOON" bed_default_is "$sink" ||
    "${EXPECT_FAIL:-bed_fail}" "$why: the default is $(bed_default), expected $sink"
}

expectPlayerOn() {
  local sink=$1 why=$2
  bed_wait "$SOON" bed_player_sink_is "$sink" ||
    "${EXPECT_FAIL:-bed_fail}" "$why: the player plays on $(bed_player_sink), expected $sink"
}

# The default stays $1 for HOLD seconds, and the player's stream on $3 when
# given.
expectDefaultHolds() {
  local sink=$1 why=$2 player=${3:-} tries=$((HOLD * 10))
  while ((tries-- > 0)); do
    bed_default_is "$sink" ||
      "${EXPECT_FAIL:-bed_fail}" "$why: the default moved to $(bed_default), expected it to stay $sink"
    [ -z "$player" ] || bed_player_sink_is "$player" ||
      "${EXPECT_FAIL:-bed_fail}" "$why: the player moved to $(bed_player_sink), expected it to stay on $player"
    sleep 0.1
  done
}

expectAlive() {
  bed_velmora_alive || "${EXPECT_FAIL:-bed_fail}" "velmora exited: $*"
}

# A change of the default within 1 s of velmora's own switch counts as its
# own and is ignored; a hand-made choice must come later to be seen as one.
afterQuietWindow() { sleep 1.2; }
