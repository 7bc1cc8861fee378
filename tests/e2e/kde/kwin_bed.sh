# shellcheck shell=bash disable=SC2034
# A KDE Plasma desktop for the end-to-end tests and the benchmark: headless
# KWin (virtual back end, three outputs side by side) on a private session
# bus, PipeWire with one null sink per output plus a headphones-like one, and
# mpv showing a Wayland window and playing a tone from the same process.
#
# Source it from bash after testbed.sh (whose sound-server and wait helpers it
# reuses), then:
#   kde_bed_start            exits 77 (skip) when a needed program is missing
#   kde_start_player         mpv, playing, with a window
#   kde_move_player N        moves mpv's window well inside output N
#   kde_start_velmora BIN    the real program against the bed
#   kde_restart_kwin         stops KWin and starts it again on the same socket
# kde_bed_stop, installed as the EXIT trap, stops everything.

# KWin's virtual back end names its outputs Virtual-0, Virtual-1, ... with no
# make or model, so each sink's description carries its output's name.
BED_SINKS=(virtual0 virtual1 virtual2)
BED_SINK_DESCRIPTIONS=("Virtual-0 Speakers" "Virtual-1 Speakers" "Virtual-2 Speakers")
KDE_SOCKET=velmora-kde
KDE_KWIN_PID=""
KDE_MOVES=0
# Every output's scale: at 2 their modes are twice their logical size, which
# window frames are given in.
KDE_SCALE=1

# Qt 6 systems without Qt 5's qdbus (Debian 13 and later) name it qdbus6.
if ! command -v qdbus > /dev/null && command -v qdbus6 > /dev/null; then
  qdbus() { qdbus6 "$@"; }
  export -f qdbus
fi

kde_require() {
  local program
  for program in kwin_wayland qdbus dbus-daemon dbus-send pipewire wireplumber pipewire-pulse pactl mpv sox; do
    command -v "$program" > /dev/null || {
      echo "SKIP: $program is not installed"
      exit 77
    }
  done
}

kde_bed_stop() {
  # velmora first, so it takes its script out of a KWin that still runs.
  if [ -n "$BED_VELMORA_PID" ]; then
    kill "$BED_VELMORA_PID" 2> /dev/null
    bed_reap "$BED_VELMORA_PID"
    BED_VELMORA_PID=""
  fi
  if [ -n "$KDE_KWIN_PID" ]; then
    kill "$KDE_KWIN_PID" 2> /dev/null
    bed_reap "$KDE_KWIN_PID"
    KDE_KWIN_PID=""
  fi
  bed_stop
}

kde_bed_start() {
  kde_require
  BED_SERVER=pipewire
  bed_make_dirs kde kde_bed_stop
  dbus-daemon --session --nofork --nopidfile --address="unix:path=$BED_DIR/run/bus" >> "$BED_DIR/dbus.log" 2>&1 &
  BED_PIDS+=($!)
  bed_wait 5 test -S "$BED_DIR/run/bus" || bed_fail "dbus-daemon did not start"
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$BED_DIR/run/bus
  # The installed binary carries a file capability a container cannot
  # grant; a copy has none.
  cp "$(command -v kwin_wayland)" "$BED_DIR/kwin_wayland" || bed_fail "could not copy kwin_wayland"
  kde_output_config
  kde_launch_kwin
  bed_launch_sound
  kde_wait_kwin
  bed_setup_sound
  export WAYLAND_DISPLAY=$KDE_SOCKET
}

# KWin 6's virtual back end takes --scale for the size of its pixels only;
# the scale itself comes from KWin's output settings, which it reads here at
# start (matching outputs without EDID by connector) and lays out side by
# side. KWin 5.27 ignores the file and scales by --scale.
kde_output_config() {
  [ "$KDE_SCALE" != 1 ] || return 0
  local i outputs=()
  for ((i = 0; i < ${#BED_SINKS[@]}; i++)); do
    outputs+=("{\"connectorName\": \"Virtual-$i\", \"scale\": $KDE_SCALE}")
  done
  mkdir -p "$XDG_CONFIG_HOME"
  printf '[{"name": "outputs", "data": [%s]}, {"name": "setups", "data": []}]\n' \
    "$(IFS=,; echo "${outputs[*]}")" > "$XDG_CONFIG_HOME/kwinoutputconfig.json"
}

kde_launch_kwin() {
  KWIN_COMPOSE=Q "$BED_DIR/kwin_wayland" --virtual --width "$BED_MONITOR_WIDTH" --height "$BED_MONITOR_HEIGHT" \
    --scale "$KDE_SCALE" --output-count "${#BED_SINKS[@]}" --socket "$KDE_SOCKET" --no-lockscreen --no-global-shortcuts \
    --no-kactivities >> "$BED_DIR/kwin.log" 2>&1 &
  KDE_KWIN_PID=$!
}

kde_kwin_up() { qdbus org.kde.KWin /Scripting > /dev/null 2>&1; }

kde_wait_kwin() {
  bed_wait 15 kde_kwin_up || {
    tail -n 20 "$BED_DIR/kwin.log"
    bed_fail "KWin did not come up"
  }
}

kde_restart_kwin() {
  kill "$KDE_KWIN_PID" 2> /dev/null
  bed_reap "$KDE_KWIN_PID"
  bed_wait 5 bash -c '! qdbus org.kde.KWin /Scripting > /dev/null 2>&1' || bed_fail "KWin stayed on the bus"
  kde_launch_kwin
  kde_wait_kwin
}

# Loads a KWin script of the test's own, runs it once and unloads it.
kde_run_script() {
  local file=$1 name id
  KDE_MOVES=$((KDE_MOVES + 1))
  name="velmora-e2e-$KDE_MOVES"
  id=$(qdbus org.kde.KWin /Scripting org.kde.kwin.Scripting.loadScript "$file" "$name") || return 1
  [ "${id:--1}" -ge 0 ] || return 1
  # Plasma 6 puts the script at /Scripting/Script<id>, Plasma 5 at /<id>.
  qdbus org.kde.KWin "/Scripting/Script$id" org.kde.kwin.Script.run > /dev/null 2>&1 \
    || qdbus org.kde.KWin "/$id" org.kde.kwin.Script.run > /dev/null || return 1
  qdbus org.kde.KWin /Scripting org.kde.kwin.Scripting.unloadScript "$name" > /dev/null
}

kde_start_player() {
  bed_make_tone
  mpv --no-config --msg-level=all=warn --ao=pulse --vo=wlshm --force-window=yes --loop-file=inf --idle=yes \
    --geometry=480x270 --title=velmora-e2e-player --input-ipc-server="$BED_DIR/mpv.sock" "$BED_DIR/tone.wav" \
    >> "$BED_DIR/mpv.log" 2>&1 &
  BED_MPV_PID=$!
  bed_wait 10 bed_player_stream_running || bed_fail "mpv did not start playing"
}

# Moves the player's window so that it lies well inside output $1 (0-based).
# The script prints where the window went, and KWin logs what scripts print.
kde_move_player() {
  local x=$(($1 * BED_MONITOR_WIDTH + 300)) tries=50 marker
  while ((tries-- > 0)); do
    marker="velmora-e2e-move-$((KDE_MOVES + 1))"
    cat > "$BED_DIR/move.js" << SCRIPT
const list = typeof workspace.windowList === "function" ? workspace.windowList() : workspace.clientList();
for (let i = 0; i < list.length; i++) {
  const w = list[i];
  if (w.pid === $BED_MPV_PID) {
    const g = w.frameGeometry;
    w.frameGeometry = { x: $x, y: 150, width: g.width, height: g.height };
    print("$marker x=" + w.frameGeometry.x);
  }
}
SCRIPT
    kde_run_script "$BED_DIR/move.js" || bed_fail "KWin did not run the test's move script"
    # The window may not be mapped yet right after mpv starts.
    bed_wait 1 grep -q "$marker x=$x\$" "$BED_DIR/kwin.log" && return 0
  done
  bed_fail "the player's window did not reach output $1"
}

kde_start_velmora() {
  local binary=$1
  [ -x "$binary" ] || bed_fail "no program at $binary"
  # The session is found from the environment, as on a Plasma desktop.
  local debug=()
  [ "${BED_VELMORA_DEBUG:-1}" = 1 ] && debug=(VELMORA_LOG_DEBUG=1)
  env "${debug[@]}" VELMORA_LOG_STDERR=1 XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE \
    QT_QPA_PLATFORM=offscreen "$binary" > "$BED_DIR/velmora.out" 2> "$BED_DIR/velmora.err" &
  BED_VELMORA_PID=$!
}

# velmora's unique bus name, from the copy of the script it gave KWin.
kde_velmora_bus_name() {
  grep -ho '":1\.[0-9]*"' "$XDG_RUNTIME_DIR"/velmora/kwin-windows-*.js 2> /dev/null | head -n1 | tr -d '"'
}

kde_script_loaded() {
  [ "$(qdbus org.kde.KWin /Scripting org.kde.kwin.Scripting.isScriptLoaded velmora-windows 2> /dev/null)" = true ]
}
