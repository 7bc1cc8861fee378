#!/bin/bash
# Takes docs/tray-menu.png: velmora's open tray menu under Xvfb with trayer as
# the tray host and a private PulseAudio server. Needs Xvfb, pulseaudio,
# pactl, trayer, xdotool and ImageMagick.
#   docs/take-tray-screenshot.sh BUILD_DIR/src/app/shell/velmora
set -eu
velmora=${1:?usage: take-tray-screenshot.sh VELMORA}
out=$(cd "$(dirname "$0")" && pwd)/tray-menu.png

work=$(mktemp -d /tmp/velmora-shot-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/run" "$work/home"
chmod 700 "$work/run"
export XDG_RUNTIME_DIR=$work/run HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
export PULSE_SERVER=unix:$work/run/pulse/native QT_QPA_PLATFORM=xcb
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY

Xvfb :93 -noreset -screen 0 1280x800x24 -nolisten tcp > /dev/null 2>&1 &
pids+=($!)
export DISPLAY=:93
sleep 1
pulseaudio -n --daemonize=no --exit-idle-time=-1 --system=false \
  -L "module-native-protocol-unix auth-anonymous=1" \
  -L "module-null-sink sink_name=screen sink_properties='device.description=\"Screen Speakers\"'" > /dev/null 2>&1 &
pids+=($!)
sleep 1
trayer --edge top --align right --widthtype request --height 28 \
  > /dev/null 2>&1 &
pids+=($!)
sleep 1
"$velmora" > /dev/null 2>&1 &
pids+=($!)
sleep 3

# Open the menu from the left edge of the icon, at the panel's right end, so
# the menu leaves the icon in view.
xdotool mousemove 1258 14 click 1
sleep 1
import -window root "$work/root.png"
convert "$work/root.png" -crop 330x170+950+0 +repage "$out"
echo "wrote $out"
