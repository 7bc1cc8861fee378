#!/bin/bash
# Starts the real velmora under Xvfb against a private PulseAudio server and
# checks that it routes and stays up.
#   tray:   with an XEmbed tray host (trayer): the icon appears, its menu shows
#           a routing status that holds, and Ctrl+Q in the menu ends velmora
#           with status 0.
#   notray: without one: velmora says once that it cannot show its status
#           item and keeps running.
#   notray-option: with a tray host and --no-tray: no icon, still routing.
# Exits 77 (skipped) when a needed program is missing.
set -u

velmora=${1:?usage: velmora_smoke.sh VELMORA tray|notray}
mode=${2:?usage: velmora_smoke.sh VELMORA tray|notray}

need=(Xvfb pulseaudio pactl xdotool)
[ "$mode" != notray ] && need+=(trayer)
for program in "${need[@]}"; do
  command -v "$program" > /dev/null || { echo "SKIP: $program is not installed"; exit 77; }
done

work=$(mktemp -d /tmp/velmora-smoke-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2> /dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  echo "--- velmora stderr"; cat "$work/velmora.err" 2> /dev/null
  for log in trayer xvfb; do
    [ -s "$work/$log.log" ] && { echo "--- $log"; tail -n 20 "$work/$log.log"; }
  done
  if [ -n "${DISPLAY:-}" ]; then
    echo "--- windows"
    for w in $(xdotool search --name '' 2> /dev/null); do
      echo "$w \"$(xdotool getwindowname "$w" 2> /dev/null)\" $(xdotool getwindowgeometry --shell "$w" 2> /dev/null | tr '\n' ' ')"
    done
  fi
  exit 1
}

# Polls a condition for up to $1 seconds.
waitFor() {
  local seconds=$1; shift
  local tries=$((seconds * 10))
  while ((tries-- > 0)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

mkdir -p "$work/run" "$work/home"
chmod 700 "$work/run"
export XDG_RUNTIME_DIR=$work/run HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
export PULSE_SERVER=unix:$work/run/pulse/native
# No session bus: Qt uses the XEmbed tray protocol, which trayer speaks.
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb
# Only read by sanitizer builds.
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "$0")" && pwd)/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

exec 3> "$work/displayfd"
# -noreset: with no session bus, trayer's dbus-launch connects to X and leaves
# first; the reset that follows can refuse trayer's own connection.
Xvfb -displayfd 3 -noreset -screen 0 1280x800x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
waitFor 10 test -s "$work/displayfd" || fail "Xvfb did not start"
export DISPLAY=:$(head -n1 "$work/displayfd")

# The Xvfb monitor is called "screen"; speakers named after it pair with it.
pulseaudio -n --daemonize=no --exit-idle-time=-1 --system=false --log-target=stderr \
  -L "module-native-protocol-unix auth-anonymous=1" \
  -L "module-null-sink sink_name=screen sink_properties='device.description=\"Screen Speakers\"'" \
  -L "module-null-sink sink_name=desk sink_properties='device.description=\"Desk Headphones\"'" \
  > "$work/pulse.log" 2>&1 &
pids+=($!)
waitFor 10 pactl info > /dev/null 2>&1 || fail "pulseaudio did not start"
pactl set-default-sink screen || fail "could not set the default sink"

if [ "$mode" != notray ]; then
  trayer --edge top --align right --widthtype request --height 28 > "$work/trayer.log" 2>&1 &
  pids+=($!)
  waitFor 10 xdotool search --name '^panel$' > /dev/null 2>&1 || fail "trayer did not start"
fi

args=()
[ "$mode" = notray-option ] && args+=(--no-tray)
VELMORA_LOG_STDERR=1 "$velmora" "${args[@]}" > "$work/velmora.out" 2> "$work/velmora.err" &
velmora_pid=$!
pids+=($velmora_pid)

alive() { kill -0 "$velmora_pid" 2> /dev/null; }

if [ "$mode" = notray ]; then
  waitFor 10 grep -q "no system tray is available" "$work/velmora.err" || fail "no line about the missing tray"
  sleep 2
  alive || fail "velmora did not keep running without a tray host"
  lines=$(grep -c "no system tray is available" "$work/velmora.err")
  [ "$lines" = 1 ] || fail "the missing tray was reported $lines times"
  [ "$(pactl get-default-sink)" = screen ] || fail "the default output moved with nothing playing"
  echo "PASS: velmora runs without a tray host"
  exit 0
fi

# xdotool's own name search misses some of Qt's windows; compare names here.
# Prints "id<TAB>name" of every window, visible ones only with --onlyvisible.
windows() {
  local w
  for w in $(xdotool search "$@" --name '' 2> /dev/null); do
    printf '%s\t%s\n' "$w" "$(xdotool getwindowname "$w" 2> /dev/null)"
  done
}
# The embedded icon: a small window of ours inside trayer's panel.
iconGeometry() {
  local w
  for w in $(windows | awk -F'\t' '$2 == "Velmora" {print $1}'); do
    xdotool getwindowgeometry --shell "$w" 2> /dev/null | grep -q '^X=[1-9]' || continue
    xdotool getwindowgeometry --shell "$w"
    return 0
  done
  return 1
}
iconEmbedded() { iconGeometry > /dev/null; }

if [ "$mode" = notray-option ]; then
  waitFor 10 grep -q "without a status item" "$work/velmora.err" || fail "no line about running without a status item"
  sleep 2
  alive || fail "velmora did not keep running with --no-tray"
  iconEmbedded && fail "--no-tray still put an icon in the tray"
  grep -q "cannot be shown" "$work/velmora.err" && fail "--no-tray reported a missing tray"
  [ "$(pactl get-default-sink)" = screen ] || fail "the default output moved with nothing playing"
  echo "PASS: velmora --no-tray runs without an icon"
  exit 0
fi
# The menu window's title is the status item's accessible text.
menuTitle() { windows --onlyvisible | awk -F'\t' 'index($2, "Velmora — ") == 1 {print $2; exit}'; }
menuOpen() { [ -n "$(menuTitle)" ]; }
status='Velmora — No media playing'
showsStatus() { [ "$(menuTitle)" = "$status" ]; }

waitFor 10 iconEmbedded || fail "the tray icon was not embedded"
alive || fail "velmora exited at start"
eval "$(iconGeometry)"
xdotool mousemove $((X + 8)) $((Y + 8)) click 1
waitFor 10 menuOpen || fail "the menu did not open"
waitFor 10 showsStatus || fail "the menu shows \"$(menuTitle)\", expected \"$status\""

# The coordinator republishes twice a second; the status must hold.
for _ in 1 2 3 4 5 6; do
  sleep 0.5
  [ "$(menuTitle)" = "$status" ] || fail "the status changed to \"$(menuTitle)\""
done
alive || fail "velmora died while routing"

xdotool key ctrl+q
waitFor 10 bash -c "! kill -0 $velmora_pid 2>/dev/null" || fail "Ctrl+Q did not end velmora"
wait "$velmora_pid"
code=$?
[ "$code" = 0 ] || fail "velmora exited with status $code"
echo "PASS: velmora routed, showed \"$status\" and quit cleanly"
