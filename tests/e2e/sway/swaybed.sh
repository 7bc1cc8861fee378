# shellcheck shell=bash
# A headless sway session for the end-to-end tests and the benchmarks: sway
# with three outputs (the third 2560x1440 at scale 2, so 1280x720 in the
# layout), no XWayland, a PulseAudio or PipeWire sound server with one null
# sink per output plus a headphones-like one, and mpv as a native Wayland
# client playing a tone through the sound server.
#
# Source testbed.sh first (its sound server, player and log helpers are used
# as they are), then this file, then:
#   sway_bed_start SERVER      SERVER is pulse or pipewire
#   sway_bed_start_player      mpv on the first output, playing
#   bed_start_velmora BIN      the real program against the bed
#   bed_move_player N          moves the player to output N (0-based)
# sway refuses to run as root: run the caller as an ordinary user (see
# sway_bed_drop_root).

BED_OUTPUTS=(HEADLESS-1 HEADLESS-2 HEADLESS-3)
BED_OUTPUT_X=(0 1280 2560)
BED_MONITOR_WIDTH=1280
# Each sink's description shares the output's connector, which is what pairs
# them: headless outputs all have the model "headless", so their names carry
# the connector ("headless (HEADLESS-2)").
BED_SINKS=(headless1 headless2 headless3)
BED_SINK_DESCRIPTIONS=("HEADLESS-1 Speakers" "HEADLESS-2 Speakers" "HEADLESS-3 Speakers")
SWAY_PID=""

# sway refuses to run as root. When run as root, runs SCRIPT ARGS... with the
# BINARIES after them as nobody, from copies in a folder nobody can read (a
# build tree may be private to root), and exits with its status; otherwise
# returns. The scripts beside SCRIPT are copied with it, for what it sources
# from its own folder.
#   sway_bed_as_nobody SCRIPT ARGS... -- BINARIES...
sway_bed_as_nobody() {
  [ "$(id -u)" = 0 ] || return 0
  local script=$1 stage args=()
  shift
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    args+=("$1")
    shift
  done
  shift
  # The scripts keep their places relative to the source tree's root.
  local e2e root relative
  e2e=$(realpath "$(dirname "${BASH_SOURCE[0]}")/..")
  root=$(realpath "$e2e/../..")
  relative=$(realpath --relative-to="$root" "$script")
  stage=$(mktemp -d /tmp/velmora-sway-stage-XXXXXX)
  mkdir -p "$stage/tests/e2e/sway" "$stage/$(dirname "$relative")"
  cp "$e2e/testbed.sh" "$e2e/expect.sh" "$e2e/streams.sh" "$stage/tests/e2e/"
  cp "$e2e"/sway/*.sh "$stage/tests/e2e/sway/"
  cp "$(dirname "$script")"/*.sh "$stage/$(dirname "$relative")/"
  cp "$script" "$stage/$relative"
  local binary
  for binary in "$@"; do
    cp "$binary" "$stage/"
    args+=("$stage/$(basename "$binary")")
  done
  chmod -R a+rX "$stage"
  setpriv --reuid=65534 --regid=65534 --clear-groups bash "$stage/$relative" "${args[@]}"
  local status=$?
  rm -rf "$stage"
  exit $status
}

sway_bed_require() {
  local program
  for program in sway swaymsg jq; do
    command -v "$program" > /dev/null || {
      echo "SKIP: $program is not installed"
      exit 77
    }
  done
  bed_require "$1"
}

sway_bed_start() {
  BED_SERVER=${1:-pipewire}
  sway_bed_require "$BED_SERVER"
  bed_make_dirs swaybed sway_bed_stop
  sway_bed_launch
  bed_launch_sound
  sway_bed_setup
  bed_setup_sound
}

sway_bed_launch() {
  cat > "$BED_DIR/sway.config" << CONFIG
xwayland disable
output HEADLESS-1 mode 1280x720 position 0 0
output HEADLESS-2 mode 1280x720 position 1280 0
output HEADLESS-3 mode 2560x1440 position 2560 0 scale 2
output HEADLESS-4 mode 1280x720 position 3840 0
${SWAY_BED_EXTRA_CONFIG:-}
CONFIG
  WLR_BACKENDS=headless WLR_HEADLESS_OUTPUTS=${#BED_OUTPUTS[@]} WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway --config "$BED_DIR/sway.config" > "$BED_DIR/sway.log" 2>&1 &
  SWAY_PID=$!
}

sway_bed_socket() {
  local socket
  for socket in "$XDG_RUNTIME_DIR"/sway-ipc.*.sock; do
    [ -S "$socket" ] || continue
    SWAYSOCK=$socket
    return 0
  done
  return 1
}

sway_bed_display() {
  local socket
  for socket in "$XDG_RUNTIME_DIR"/wayland-*; do
    [ -S "$socket" ] || continue
    WAYLAND_DISPLAY=$(basename "$socket")
    return 0
  done
  return 1
}

sway_bed_outputs_up() {
  [ "$(swaymsg -t get_outputs -r 2> /dev/null | jq '[.[] | select(.active)] | length')" = "${#BED_OUTPUTS[@]}" ]
}

sway_bed_setup() {
  bed_wait 10 sway_bed_socket || sway_bed_fail "sway did not start"
  bed_wait 10 sway_bed_display || sway_bed_fail "sway made no Wayland socket"
  export SWAYSOCK WAYLAND_DISPLAY
  bed_wait 10 sway_bed_outputs_up || sway_bed_fail "sway did not bring up ${#BED_OUTPUTS[@]} outputs"
}

sway_bed_stop() {
  [ -z "$SWAY_PID" ] || BED_PIDS+=("$SWAY_PID")
  SWAY_PID=""
  bed_stop
}

sway_bed_fail() {
  echo "FAIL: $*"
  sway_bed_dump
  exit 1
}

sway_bed_dump() {
  bed_dump
  echo "--- sway windows"
  swaymsg -t get_tree -r 2> /dev/null | jq -c '.. | objects | select(.pid?) | {pid, shell, visible, rect}'
  echo "--- sway outputs"
  swaymsg -t get_outputs -r 2> /dev/null | jq -c '.[] | {name, scale, rect}'
  echo "--- sway log (last 10 lines)"
  tail -n 10 "$BED_DIR/sway.log" 2> /dev/null
}
bed_fail() { sway_bed_fail "$@"; }

# mpv drawing through wl_shm, so it is a native Wayland client: sway runs
# without XWayland, and the window's shell is checked too.
sway_bed_start_player() {
  bed_make_tone
  mpv --no-config --msg-level=all=warn --ao=pulse --vo=wlshm --force-window=yes --loop-file=inf --idle=yes \
    --title=velmora-e2e-player --input-ipc-server="$BED_DIR/mpv.sock" "$BED_DIR/tone.wav" > "$BED_DIR/mpv.log" 2>&1 &
  BED_MPV_PID=$!
  bed_wait 10 sway_player_window || sway_bed_fail "mpv showed no window"
  [ "$(sway_player_field shell)" = xdg_shell ] || sway_bed_fail "mpv's window is not a native Wayland one"
  bed_wait 10 bed_player_stream_running || sway_bed_fail "mpv did not start playing"
}

# One field of the player's window in sway's tree.
sway_player_field() {
  swaymsg -t get_tree -r 2> /dev/null \
    | jq -r --argjson pid "$BED_MPV_PID" "[.. | objects | select(.pid? == \$pid)][0].$1 // empty"
}
sway_player_window() { [ -n "$(sway_player_field rect.x)" ]; }

# Moves the player's window to output $1 (0-based) and waits until sway has
# laid it out there.
bed_move_player() {
  swaymsg "[pid=$BED_MPV_PID] move container to output ${BED_OUTPUTS[$1]}" > /dev/null \
    || sway_bed_fail "swaymsg could not move the window to ${BED_OUTPUTS[$1]}"
  bed_wait 5 bed_player_on "$1" || sway_bed_fail "the window did not reach ${BED_OUTPUTS[$1]}"
}

bed_player_on() {
  local x
  x=$(sway_player_field rect.x)
  [ -n "$x" ] && ((x >= BED_OUTPUT_X[$1] && x < BED_OUTPUT_X[$1] + BED_MONITOR_WIDTH))
}

# A fourth output, placed right of the others, with its own speakers.
sway_bed_add_output() {
  swaymsg create_output > /dev/null || sway_bed_fail "sway could not add an output"
  BED_OUTPUTS+=(HEADLESS-4)
  BED_OUTPUT_X+=(3840)
  bed_wait 10 sway_bed_outputs_up || sway_bed_fail "the fourth output did not come up"
  BED_SINKS+=(headless4)
  BED_SINK_DESCRIPTIONS+=("HEADLESS-4 Speakers")
  bed_add_sink headless4 "HEADLESS-4 Speakers"
}

# The real program, as on a sway desktop: the session is found from the
# environment, and Qt draws nothing (the routing needs no tray).
bed_start_velmora() {
  local binary=$1
  [ -x "$binary" ] || sway_bed_fail "no program at $binary"
  local debug=()
  [ "${BED_VELMORA_DEBUG:-1}" = 1 ] && debug=(VELMORA_LOG_DEBUG=1)
  env "${debug[@]}" VELMORA_LOG_STDERR=1 QT_QPA_PLATFORM=offscreen "$binary" \
    > "$BED_DIR/velmora.out" 2> "$BED_DIR/velmora.err" &
  # shellcheck disable=SC2034 # read by testbed.sh
  BED_VELMORA_PID=$!
}
