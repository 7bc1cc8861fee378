# shellcheck shell=bash
# A real desktop for the end-to-end tests and the benchmarks, made from Debian
# packages only and runnable as root without systemd: Xvfb with three RandR
# monitors, openbox, a PulseAudio or PipeWire sound server with one null sink
# per monitor plus a headphones-like one, and mpv playing a tone.
#
# Source it from bash, then:
#   bed_require SERVER      exits 77 (skip) when a needed program is missing
#   bed_start SERVER        SERVER is pulse or pipewire; sets DISPLAY etc.
#   bed_start_player        mpv on the first monitor, playing
#   bed_start_velmora BIN   the real program against the bed
# Everything started here is stopped by bed_stop, which bed_start installs as
# the EXIT trap, so nothing outlives the caller, on failure too.
#
# Monitors and sinks share one word of four or more letters, which is what
# pairs a display with its speakers.

BED_MONITORS=("Aster U27" "Borealis Q32" "Cobalt X40")
BED_SINKS=(aster borealis cobalt)
BED_SINK_DESCRIPTIONS=("Aster Speakers" "Borealis Speakers" "Cobalt Speakers")
BED_HEADPHONES=phones
BED_HEADPHONES_DESCRIPTION="USB Headphones"
BED_MONITOR_WIDTH=1280
BED_MONITOR_HEIGHT=720

BED_DIR=""
BED_SERVER=""
BED_PIDS=()
BED_SOUND_PIDS=()
BED_MPV_PID=""
BED_VELMORA_PID=""

# Polls a command every 100 ms for up to $1 seconds.
bed_wait() {
  local seconds=$1
  shift
  local tries=$((seconds * 10))
  while ((tries-- > 0)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

bed_require() {
  local programs=(Xvfb xrandr openbox wmctrl xwininfo xprop pactl mpv sox)
  case "${1:-pulse}" in
    pulse) programs+=(pulseaudio) ;;
    pipewire) programs+=(pipewire wireplumber pipewire-pulse dbus-daemon) ;;
    *)
      echo "unknown sound server: $1" >&2
      exit 2
      ;;
  esac
  local program
  for program in "${programs[@]}"; do
    command -v "$program" > /dev/null || {
      echo "SKIP: $program is not installed"
      exit 77
    }
  done
}

bed_stop() {
  local pid
  # The program under test first, so it never sees the servers go away.
  for pid in $BED_VELMORA_PID $BED_MPV_PID "${BED_SOUND_PIDS[@]}" "${BED_PIDS[@]}"; do
    kill "$pid" 2> /dev/null
  done
  for pid in $BED_VELMORA_PID $BED_MPV_PID "${BED_SOUND_PIDS[@]}" "${BED_PIDS[@]}"; do
    bed_reap "$pid"
  done
  BED_PIDS=()
  BED_SOUND_PIDS=()
  BED_MPV_PID=""
  BED_VELMORA_PID=""
  if [ -n "$BED_DIR" ] && [ -z "${BED_KEEP:-}" ]; then rm -rf "$BED_DIR"; fi
}

# Whether a process has ended (an unreaped child counts as ended).
bed_gone() {
  local state
  state=$(sed 's/.*) //' "/proc/$1/stat" 2> /dev/null) || return 0
  [ "${state%% *}" = Z ]
}

# Waits up to 2 s for a process to end, then kills it hard.
bed_reap() {
  bed_wait 2 bed_gone "$1" || kill -9 "$1" 2> /dev/null
  wait "$1" 2> /dev/null
}

bed_fail() {
  echo "FAIL: $*"
  bed_dump
  exit 1
}

bed_dump() {
  [ -n "$BED_DIR" ] || return 0
  echo "--- default sink: $(pactl get-default-sink 2> /dev/null)"
  echo "--- sinks"
  pactl list short sinks 2> /dev/null
  echo "--- sink inputs"
  pactl list short sink-inputs 2> /dev/null
  echo "--- monitors"
  xrandr --listmonitors 2> /dev/null
  echo "--- windows"
  (wmctrl -lpG) 2> /dev/null || xwininfo -root -children 2> /dev/null | grep '^ *0x'
  echo "--- velmora log, without the window reports (last 60 lines)"
  grep -v 'window rect=\|targetDevice=' "$BED_DIR/velmora.err" 2> /dev/null | tail -n 60
  echo "--- the last window reports"
  grep 'window rect=\|targetDevice=\|no display crosses' "$BED_DIR/velmora.err" 2> /dev/null | tail -n 8
  echo "--- sound server log (last 20 lines, without WirePlumber's notes on missing plug-ins)"
  grep -v 'libcamera' "$BED_DIR/sound.log" 2> /dev/null | tail -n 20
}

# Makes BED_DIR, /tmp/velmora-NAME-XXXXXX, with the bed's runtime folder,
# home and state in it, points the XDG and PulseAudio variables there, and
# installs STOP as the EXIT trap, so the folder goes with the bed. The
# caller's desktop session is forgotten: velmora picks its session from these
# variables, and one left over from the desktop the tests run in would send
# it to the wrong one.
#   bed_make_dirs NAME STOP
bed_make_dirs() {
  BED_DIR=$(mktemp -d "/tmp/velmora-$1-XXXXXX") || exit 1
  # shellcheck disable=SC2064 # STOP names a function, to be called on exit
  trap "$2" EXIT
  trap 'exit 143' TERM INT
  mkdir -p "$BED_DIR/run" "$BED_DIR/home" "$BED_DIR/state"
  chmod 700 "$BED_DIR/run"
  export XDG_RUNTIME_DIR=$BED_DIR/run HOME=$BED_DIR/home XDG_CONFIG_HOME=$BED_DIR/home/.config
  export XDG_STATE_HOME=$BED_DIR/state XDG_DATA_HOME=$BED_DIR/home/.local/share
  export PULSE_STATE_PATH=$BED_DIR/state/pulse PULSE_RUNTIME_PATH=$BED_DIR/run/pulse
  export PULSE_SERVER=unix:$BED_DIR/run/pulse/native
  unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS PIPEWIRE_REMOTE SWAYSOCK I3SOCK
  unset HYPRLAND_INSTANCE_SIGNATURE XDG_SESSION_TYPE XDG_CURRENT_DESKTOP VELMORA_SESSION
}

bed_start() {
  BED_SERVER=${1:-pulse}
  bed_require "$BED_SERVER"
  bed_make_dirs bed bed_stop
  # The X server and the sound server start side by side; each takes a few
  # hundred milliseconds on its own.
  bed_launch_x
  bed_launch_sound
  bed_setup_x
  bed_setup_sound
}

bed_launch_x() {
  local width=$((BED_MONITOR_WIDTH * ${#BED_MONITORS[@]})) fd
  # -displayfd picks a free display number; -noreset keeps the monitors when
  # the last client goes; nothing here draws with OpenGL, and loading GLX
  # would double the start-up time.
  exec {fd}> "$BED_DIR/displayfd"
  Xvfb -displayfd "$fd" -noreset -nolisten tcp -extension GLX -screen 0 "${width}x${BED_MONITOR_HEIGHT}x24" \
    > "$BED_DIR/xvfb.log" 2>&1 &
  BED_PIDS+=($!)
  exec {fd}>&-
}

bed_setup_x() {
  bed_wait 10 test -s "$BED_DIR/displayfd" || bed_fail "Xvfb did not start"
  DISPLAY=:$(head -n1 "$BED_DIR/displayfd")
  export DISPLAY
  # openbox takes a while to start and follows RandR changes, so the monitors
  # are made while it starts.
  openbox --sm-disable > "$BED_DIR/openbox.log" 2>&1 &
  BED_PIDS+=($!)
  local i output=screen
  for i in "${!BED_MONITORS[@]}"; do
    xrandr --setmonitor "${BED_MONITORS[$i]}" \
      "${BED_MONITOR_WIDTH}/340x${BED_MONITOR_HEIGHT}/190+$((i * BED_MONITOR_WIDTH))+0" "$output" > /dev/null \
      || bed_fail "could not add monitor ${BED_MONITORS[$i]}"
    output=none
  done
  bed_wait 10 bed_has_wm || bed_fail "openbox did not start"
}

bed_has_wm() { wmctrl -m > /dev/null 2>&1; }

bed_launch_sound() {
  case "$BED_SERVER" in
    pulse) bed_launch_pulseaudio ;;
    pipewire) bed_launch_pipewire ;;
  esac
}

bed_setup_sound() {
  bed_wait 10 bed_sound_up || case "$BED_SERVER" in
    pulse) bed_fail "pulseaudio did not start" ;;
    pipewire) bed_skip_pipewire "pipewire-pulse" ;;
  esac
  [ "$BED_SERVER" = pulse ] || bed_add_sinks
  bed_wait 10 bed_has_sinks || bed_fail "the null sinks did not appear"
  bed_default_is "${BED_SINKS[0]}" || bed_set_default "${BED_SINKS[0]}" \
    || bed_fail "could not make ${BED_SINKS[0]} the default sink"
}

# PulseAudio loads the sinks itself, which saves a client round per sink, and
# module-stream-restore as a desktop's default.pa does: it puts a stream back
# on the sink its application was last moved to. (WirePlumber does the same
# for PipeWire by default.)
bed_launch_pulseaudio() {
  local modules=(-L "module-native-protocol-unix auth-anonymous=1" -L module-stream-restore) i
  for i in "${!BED_SINKS[@]}"; do
    modules+=(-L "$(bed_sink_module "${BED_SINKS[$i]}" "${BED_SINK_DESCRIPTIONS[$i]}")")
  done
  modules+=(-L "$(bed_sink_module "$BED_HEADPHONES" "$BED_HEADPHONES_DESCRIPTION")")
  pulseaudio -n --daemonize=no --system=false --exit-idle-time=-1 --disallow-exit --log-target=stderr \
    "${modules[@]}" >> "$BED_DIR/sound.log" 2>&1 &
  BED_SOUND_PIDS=($!)
}

# The whole sink_properties value in single quotes keeps the spaces of the
# description.
bed_sink_module() {
  echo "module-null-sink sink_name=$1 sink_properties='device.description=\"$2\"'"
}

# A private session bus, which keeps the host's out; once per bed.
bed_start_session_bus() {
  [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] || return 0
  dbus-daemon --session --nofork --nopidfile --address="unix:path=$BED_DIR/run/bus" \
    >> "$BED_DIR/dbus.log" 2>&1 &
  BED_PIDS+=($!)
  bed_wait 5 test -S "$BED_DIR/run/bus" || bed_fail "dbus-daemon did not start"
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$BED_DIR/run/bus
}

bed_launch_pipewire() {
  # WirePlumber wants a session bus.
  bed_start_session_bus
  pipewire >> "$BED_DIR/sound.log" 2>&1 &
  BED_SOUND_PIDS+=($!)
  # Its clients give up when its socket is not there yet: WirePlumber would
  # exit, and without it no default sink can be set ("Not supported").
  bed_wait 10 test -S "$XDG_RUNTIME_DIR/pipewire-0" || bed_skip_pipewire "pipewire"
  local program
  for program in wireplumber pipewire-pulse; do
    "$program" >> "$BED_DIR/sound.log" 2>&1 &
    BED_SOUND_PIDS+=($!)
  done
}

# PipeWire that cannot run here (no permission for its realtime or memory
# needs, a sandbox without the sockets it wants) is a skip, not a failure.
bed_skip_pipewire() {
  # Once it has run here, a failure to come back is a real one.
  [ -z "$BED_VELMORA_PID" ] || bed_fail "$1 did not come back"
  echo "SKIP: $1 did not come up here"
  grep -v 'libcamera' "$BED_DIR/sound.log" | tail -n 20
  exit 77
}

bed_sound_up() { pactl info > /dev/null 2>&1; }

bed_add_sinks() {
  local i
  for i in "${!BED_SINKS[@]}"; do
    bed_add_sink "${BED_SINKS[$i]}" "${BED_SINK_DESCRIPTIONS[$i]}"
  done
  bed_add_sink "$BED_HEADPHONES" "$BED_HEADPHONES_DESCRIPTION"
}

bed_add_sink() {
  pactl load-module module-null-sink "sink_name=$1" "sink_properties='device.description=\"$2\"'" > /dev/null \
    || bed_fail "could not add sink $1"
}

bed_has_sinks() {
  local sinks want
  sinks=$(pactl list short sinks 2> /dev/null | cut -f2)
  for want in "${BED_SINKS[@]}" "$BED_HEADPHONES"; do
    grep -qx "$want" <<< "$sinks" || return 1
  done
}

bed_default() { pactl get-default-sink 2> /dev/null; }
bed_default_is() { [ "$(bed_default)" = "$1" ]; }

# Sets the default sink as a user would. Under PipeWire the request only takes
# once WirePlumber runs its default-node policy, so it is retried until read
# back.
bed_set_default() {
  local tries=150 error=""
  while ((tries-- > 0)); do
    if error=$(pactl set-default-sink "$1" 2>&1); then
      bed_wait 1 bed_default_is "$1" && return 0
      error="the default reads back as $(bed_default)"
    fi
    sleep 0.1
  done
  echo "setting the default sink to $1 failed: $error" >&2
  return 1
}

# Stops the sound server and starts it again with the same sinks.
bed_restart_sound() {
  local pid
  for pid in "${BED_SOUND_PIDS[@]}"; do kill "$pid" 2> /dev/null; done
  for pid in "${BED_SOUND_PIDS[@]}"; do bed_reap "$pid"; done
  BED_SOUND_PIDS=()
  bed_launch_sound
  bed_setup_sound
}

# A tone that loops without a gap.
bed_make_tone() {
  [ -s "$BED_DIR/tone.wav" ] || sox -q -n -r 48000 -c 2 "$BED_DIR/tone.wav" synth 1 sine 440 vol 0.1 \
    || bed_fail "sox could not make the tone"
}

# mpv playing on the first monitor; BED_MPV_WINDOW is its top-level window.
bed_start_player() {
  bed_make_tone
  mpv --no-config --msg-level=all=warn --ao=pulse --vo=x11 --force-window=yes --loop-file=inf --idle=yes \
    --geometry=480x270+200+200 --title=velmora-e2e-player \
    --input-ipc-server="$BED_DIR/mpv.sock" "$BED_DIR/tone.wav" > "$BED_DIR/mpv.log" 2>&1 &
  BED_MPV_PID=$!
  bed_wait 10 bed_find_player_window || bed_fail "mpv showed no window"
  bed_wait 10 bed_player_stream_running || bed_fail "mpv did not start playing"
}

# The window manager's client list, read with xprop: Debian 13's wmctrl -l
# crashes on a window without WM_CLIENT_MACHINE, and mpv's has none.
bed_find_player_window() {
  local window
  for window in $(xprop -root _NET_CLIENT_LIST 2> /dev/null | grep -o '0x[0-9a-f]*'); do
    [ "$(xprop -id "$window" _NET_WM_PID 2> /dev/null | grep -o '[0-9]*$')" = "$BED_MPV_PID" ] || continue
    BED_MPV_WINDOW=$window
    return 0
  done
  return 1
}

# mpv gives up on its audio output when the server goes away; loading the file
# again opens a new stream in the same window.
bed_reload_player() {
  bed_mpv_command "{\"command\": [\"loadfile\", \"$BED_DIR/tone.wav\"]}" || bed_fail "mpv did not reload the tone"
  bed_wait 10 bed_player_stream_running || bed_fail "mpv did not resume playing on the new server"
}

# An uncorked sink input that belongs to mpv.
bed_player_stream_running() {
  pactl list sink-inputs 2> /dev/null | awk -v pid="$BED_MPV_PID" '
    /^Sink Input #/ { corked = ""; mine = 0 }
    /Corked: no/ { corked = "no" }
    /Corked: yes/ { corked = "yes" }
    /application.process.id = / { gsub(/"/, "", $3); if ($3 == pid) mine = 1 }
    mine && corked == "no" { found = 1 }
    END { exit !found }'
}

bed_player_stream_corked() {
  pactl list sink-inputs 2> /dev/null | awk -v pid="$BED_MPV_PID" '
    /^Sink Input #/ { corked = ""; mine = 0 }
    /Corked: yes/ { corked = "yes" }
    /application.process.id = / { gsub(/"/, "", $3); if ($3 == pid) mine = 1 }
    mine && corked == "yes" { found = 1 }
    END { exit !found }'
}

# The index of mpv's sink input and the name of the sink it plays on.
bed_player_stream() {
  local line
  line=$(pactl list sink-inputs 2> /dev/null | awk -v pid="$BED_MPV_PID" '
    /^Sink Input #/ { input = substr($3, 2); sink = "" }
    /^[ \t]*Sink: / { sink = $2 }
    /application.process.id = / { gsub(/"/, "", $3); if ($3 == pid) { print input, sink; exit } }')
  [ -n "$line" ] || return 1
  echo "${line% *} $(pactl list short sinks 2> /dev/null | awk -v i="${line#* }" '$1 == i { print $2 }')"
}
bed_player_sink() { local stream; stream=$(bed_player_stream) && echo "${stream#* }"; }
bed_player_sink_is() { [ "$(bed_player_sink)" = "$1" ]; }

# Moves mpv's stream to sink $1 as a user does with a mixer; the server then
# keeps it there, and puts mpv there again when it next starts. The tool stays
# connected until the move shows (pactl's quick exit loses moves on PipeWire);
# a move that still does not show is asked again, as a user would.
bed_pin_player() {
  local stream tries=3
  while ((tries-- > 0)); do
    stream=$(bed_player_stream) || return 1
    "$BED_TOOL" move "${stream%% *}" "$1" && return 0
  done
  return 1
}

bed_stop_player() {
  kill "$BED_MPV_PID" 2> /dev/null
  bed_reap "$BED_MPV_PID"
  BED_MPV_PID=""
}

# Sends one JSON command to mpv over its IPC socket.
bed_mpv_command() {
  "$BED_TOOL" ipc "$BED_DIR/mpv.sock" "$1" > /dev/null
}

# Moves the player's window so that it lies well inside monitor $1 (0-based).
bed_move_player() {
  local x=$(($1 * BED_MONITOR_WIDTH + 300)) y=150
  wmctrl -i -r "$BED_MPV_WINDOW" -e "0,$x,$y,-1,-1" || bed_fail "wmctrl could not move the window"
  bed_wait 5 bed_player_on "$1" || bed_fail "the window did not reach monitor $1"
}

# Whether the server puts the window's top-left corner on monitor $1.
bed_player_on() {
  local x
  x=$(xwininfo -id "$BED_MPV_WINDOW" 2> /dev/null | awk '/Absolute upper-left X:/ { print $4 }')
  [ -n "$x" ] && ((x >= $1 * BED_MONITOR_WIDTH && x < ($1 + 1) * BED_MONITOR_WIDTH))
}

bed_start_velmora() {
  local binary=$1
  [ -x "$binary" ] || bed_fail "no program at $binary"
  # The debug lines show each window report, so a test can see when velmora
  # stops following an app; the log stays on standard error even where a
  # journal listens. BED_VELMORA_DEBUG=0 runs it as users do.
  local debug=()
  [ "${BED_VELMORA_DEBUG:-1}" = 1 ] && debug=(VELMORA_LOG_DEBUG=1)
  env "${debug[@]}" VELMORA_LOG_STDERR=1 QT_QPA_PLATFORM=xcb "$binary" > "$BED_DIR/velmora.out" 2> "$BED_DIR/velmora.err" &
  BED_VELMORA_PID=$!
}

bed_velmora_alive() { ! bed_gone "$BED_VELMORA_PID"; }

# Quits velmora as the session would, then starts it again; its log goes on.
bed_restart_velmora() {
  kill "$BED_VELMORA_PID" 2> /dev/null
  bed_reap "$BED_VELMORA_PID"
  mv "$BED_DIR/velmora.err" "$BED_DIR/velmora.before-restart.err"
  bed_start_velmora "$1"
}

# Number of velmora log lines that contain $1.
bed_log_count() { grep -cF -- "$1" "$BED_DIR/velmora.err" 2> /dev/null; }
bed_log_has() { grep -qF -- "$1" "$BED_DIR/velmora.err" 2> /dev/null; }

# Whether velmora has stopped reporting the tracked window (it polls it four
# times a second while it follows an app).
bed_window_reports_stopped() {
  local before
  before=$(bed_log_count "window rect=")
  sleep 0.6
  [ "$(bed_log_count "window rect=")" = "$before" ]
}
