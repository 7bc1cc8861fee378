# shellcheck shell=bash disable=SC2034
# A GNOME Shell desktop for the end-to-end tests and the benchmark: headless
# GNOME Shell on Wayland with two virtual monitors (the second at scale 2),
# private session and system buses, Velmora's Shell extension installed (and
# enabled unless asked otherwise) before the Shell starts, PipeWire with one
# null sink per monitor plus headphones, and mpv as a native Wayland client.
#
# Source it from bash after testbed.sh, then:
#   gbed_require            exits 77 (skip) when a needed program is missing
#   gbed_start EXTENSION_DIR [enabled|disabled]
#                           the extension's test build, whose test route the
#                           bed uses (gbed_test METHOD ARGS...)
#   gbed_start_player       mpv on the first monitor, playing
#   gbed_move_player N      moves mpv's window onto monitor N (0 or 1)
#   gbed_start_velmora BIN  the real program against the bed
#   gbed_topbar             the top-bar indicator and its menu, as JSON
# bed_stop (the EXIT trap) stops everything, helpers the Shell had the bus
# start included.
#
# The virtual monitors both call themselves "MetaVirtualMonitor"; Velmora
# tells such twins apart by connector, so each sink names one connector.

# Monitor 0 is Meta-1 (2560x1440 at scale 2) on the left, monitor 1 is Meta-0
# (1920x1080 at scale 1) on its right; BED_SINKS[N] is monitor N's sink.
BED_SINKS=(meta1 meta0)
BED_SINK_DESCRIPTIONS=("Meta-1 Speakers" "Meta-0 Speakers")
GBED_UUID=velmora@quennet.co
GBED_WAYLAND=velmora-e2e
# physical: the Shell measures the layout in physical pixels (GNOME's
# default); logical: in logical pixels, the mode divided by the scale.
GBED_LAYOUT=${GBED_LAYOUT:-physical}
GBED_SHELL_PID=""
GBED_TOOL=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/bus_tool.js

gbed_require() {
  local program
  for program in gnome-shell gdbus gjs jq dbus-daemon pipewire wireplumber pipewire-pulse pactl mpv sox; do
    command -v "$program" > /dev/null || {
      echo "SKIP: $program is not installed"
      exit 77
    }
  done
}

# Session-bus call to the Shell: gbed_shell_call PATH METHOD ARGS...
gbed_shell_call() {
  local path=$1 method=$2
  shift 2
  timeout 10 gdbus call --session --dest org.gnome.Shell --object-path "$path" --method "$method" "$@"
}

# The extension's test route: gbed_test METHOD ARGS... (see bus_tool.js).
gbed_test() { timeout 15 gjs "$GBED_TOOL" test "$@"; }
# The real list is Velmora's alone; the test route shows the bed the same.
gbed_windows() { gbed_test Windows 2> /dev/null; }
gbed_topbar() { gbed_test TopBar; }
gbed_extension_up() { gbed_windows > /dev/null; }
gbed_name_owned() {
  timeout 5 gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner "$1" 2> /dev/null | grep -q true
}
gbed_shell_on_bus() { gbed_name_owned org.gnome.Shell; }

gbed_start() {
  local extension=$1 enabled=${2:-enabled}
  gbed_require
  [ -f "$extension/extension.js" ] || bed_fail "no extension at $extension"
  BED_SERVER=pipewire
  bed_make_dirs gnome gbed_stop
  mkdir -p "$XDG_CONFIG_HOME/glib-2.0/settings" "$XDG_DATA_HOME/gnome-shell/extensions"
  # Settings in a key file: no dconf service to start and stop.
  export GSETTINGS_BACKEND=keyfile
  export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME
  cp -r "$extension" "$XDG_DATA_HOME/gnome-shell/extensions/$GBED_UUID"
  {
    echo "[org/gnome/shell]"
    [ "$enabled" = enabled ] && echo "enabled-extensions=['$GBED_UUID']"
    echo "welcome-dialog-last-shown-version='999'"
    # Needed for the logical layout mode.
    [ "$GBED_LAYOUT" = logical ] && printf '[org/gnome/mutter]\nexperimental-features=['"'"'scale-monitor-framebuffer'"'"']\n'
    true
  } > "$XDG_CONFIG_HOME/glib-2.0/settings/keyfile"

  local bus
  for bus in bus system_bus; do
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$BED_DIR/run/$bus" >> "$BED_DIR/dbus.log" 2>&1 &
    BED_PIDS+=($!)
  done
  bed_wait 5 test -S "$BED_DIR/run/bus" || bed_fail "dbus-daemon did not start"
  bed_wait 5 test -S "$BED_DIR/run/system_bus" || bed_fail "the system dbus-daemon did not start"
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$BED_DIR/run/bus
  # The Shell wants logind where /run/systemd/seats exists; a bus of our own
  # keeps it from the host's.
  export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$BED_DIR/run/system_bus

  # The Shell and the sound server start side by side.
  gbed_launch_shell
  bed_launch_pipewire
  bed_setup_sound
  gbed_setup_shell "$enabled"
}

gbed_launch_shell() {
  gnome-shell --headless --wayland --no-x11 --wayland-display "$GBED_WAYLAND" \
    --virtual-monitor 1920x1080 --virtual-monitor 2560x1440 >> "$BED_DIR/shell.log" 2>&1 &
  GBED_SHELL_PID=$!
}

gbed_setup_shell() {
  local enabled=${1:-enabled}
  bed_wait 60 gbed_shell_on_bus || bed_fail "GNOME Shell did not start"
  if [ "$enabled" = enabled ]; then
    bed_wait 60 gbed_extension_up || bed_fail "the extension did not come up in the Shell"
  fi
  bed_wait 30 gbed_layout || bed_fail "could not lay out the monitors"
}

# Places the monitors and sets GBED_MONITOR_X and GBED_MONITOR_WIDTH, their
# extent in the layout the windows share.
gbed_layout() {
  local state serial properties="@a{sv} {}"
  state=$(timeout 10 gdbus call --session --dest org.gnome.Mutter.DisplayConfig \
    --object-path /org/gnome/Mutter/DisplayConfig --method org.gnome.Mutter.DisplayConfig.GetCurrentState 2> /dev/null) || return 1
  serial=$(sed -n 's/^(uint32 \([0-9]*\),.*/\1/p' <<< "$state")
  [ -n "$serial" ] || return 1
  GBED_MONITOR_X=(0 2560)
  GBED_MONITOR_WIDTH=(2560 1920)
  if [ "$GBED_LAYOUT" = logical ]; then
    properties="{'layout-mode': <uint32 1>}"
    GBED_MONITOR_X=(0 1280)
    GBED_MONITOR_WIDTH=(1280 1920)
  fi
  timeout 10 gdbus call --session --dest org.gnome.Mutter.DisplayConfig --object-path /org/gnome/Mutter/DisplayConfig \
    --method org.gnome.Mutter.DisplayConfig.ApplyMonitorsConfig "$serial" 1 \
    "[(0, 0, 2.0, 0, true, [('Meta-1', '2560x1440@60.000', @a{sv} {})]), (${GBED_MONITOR_X[1]}, 0, 1.0, 0, false, [('Meta-0', '1920x1080@60.000', @a{sv} {})])]" \
    "$properties" > /dev/null 2>&1
}

# Stops the Shell (its clients lose their display) and starts it again.
gbed_restart_shell() {
  kill "$GBED_SHELL_PID" 2> /dev/null
  bed_reap "$GBED_SHELL_PID"
  gbed_launch_shell
  gbed_setup_shell enabled
}

gbed_start_player() {
  bed_make_tone
  WAYLAND_DISPLAY=$GBED_WAYLAND mpv --no-config --msg-level=all=warn --ao=pulse --vo=wlshm --force-window=yes \
    --loop-file=inf --idle=yes --geometry=480x270 --title=velmora-e2e-player \
    --input-ipc-server="$BED_DIR/mpv.sock" "$BED_DIR/tone.wav" >> "$BED_DIR/mpv.log" 2>&1 &
  BED_MPV_PID=$!
  bed_wait 20 gbed_player_window || bed_fail "mpv showed no window"
  bed_wait 10 bed_player_stream_running || bed_fail "mpv did not start playing"
  gbed_move_player 0
}

# "x y w h" of mpv's window as the extension reports it.
gbed_player_frame() {
  gbed_windows | jq -r --argjson pid "$BED_MPV_PID" 'map(select(.[0] == $pid)) | first // empty | .[1:] | join(" ")'
}
gbed_player_window() { [ -n "$(gbed_player_frame)" ]; }

# Near the right edge of the scaled monitor and the left edge of the other,
# so a layout measured wrongly puts the window on no monitor or on both.
gbed_move_player() {
  local x y=150
  if [ "$1" = 0 ]; then x=$((GBED_MONITOR_WIDTH[0] - 400)); else x=$((GBED_MONITOR_X[1] + 100)); fi
  gbed_test MoveWindow "$BED_MPV_PID" "$x" "$y" > /dev/null || bed_fail "the extension could not move the window"
  bed_wait 5 gbed_player_on "$1" || bed_fail "the window did not reach monitor $1 ($(gbed_player_frame))"
}

gbed_player_on() {
  local frame x
  frame=$(gbed_player_frame)
  x=${frame%% *}
  [ -n "$x" ] && ((x >= GBED_MONITOR_X[$1] && x < GBED_MONITOR_X[$1] + GBED_MONITOR_WIDTH[$1]))
}

# As a user's session starts it: the session is chosen from the environment.
# No tray host here: Qt draws off screen.
gbed_start_velmora() {
  [ -x "$1" ] || bed_fail "no program at $1"
  local debug=()
  [ "${BED_VELMORA_DEBUG:-1}" = 1 ] && debug=(VELMORA_LOG_DEBUG=1)
  env "${debug[@]}" VELMORA_LOG_STDERR=1 WAYLAND_DISPLAY="$GBED_WAYLAND" QT_QPA_PLATFORM=offscreen "$1" \
    > "$BED_DIR/velmora.out" 2> "$BED_DIR/velmora.err" &
  BED_VELMORA_PID=$!
}

gbed_dump() {
  echo "--- extension's windows: $(gbed_windows)"
  echo "--- shell log (last 15 lines)"
  grep -v 'ActUserManager\|GVFS\|PolKit\|Telepathy\|GeoClue\|colord' "$BED_DIR/shell.log" 2> /dev/null | tail -n 15
  echo "--- mpv log"
  tail -n 5 "$BED_DIR/mpv.log" 2> /dev/null
}

gbed_stop() {
  [ -n "$GBED_SHELL_PID" ] && BED_PIDS=("$GBED_SHELL_PID" "${BED_PIDS[@]}")
  GBED_SHELL_PID=""
GBED_TOOL=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/bus_tool.js
  local dir=$BED_DIR
  BED_KEEP=1 bed_stop
  # Helpers the bus started for the Shell (accessibility, settings portals)
  # carry our bus address; nothing else does.
  local environ pid
  for environ in /proc/[0-9]*/environ; do
    pid=${environ#/proc/}
    pid=${pid%/environ}
    grep -qzF "DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/run/bus" "$environ" 2> /dev/null && kill "$pid" 2> /dev/null
  done
  [ -n "$dir" ] && [ -z "${BED_KEEP:-}" ] && rm -rf "$dir"
  return 0
}
