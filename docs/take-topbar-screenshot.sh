#!/bin/bash
# Takes docs/topbar-menu.png: velmora's menu open in GNOME Shell's top bar,
# on the headless GNOME Shell of the end-to-end tests (which has no tray
# host), through the Shell's own Screenshot interface.
#   docs/take-topbar-screenshot.sh BUILD_DIR
set -u
build=${1:?usage: take-topbar-screenshot.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
out=$here/topbar-menu.png

# shellcheck source=SCRIPTDIR/../tests/e2e/testbed.sh
source "$here/../tests/e2e/testbed.sh"
# shellcheck source=SCRIPTDIR/../tests/e2e/gnome/gnome_bed.sh
source "$here/../tests/e2e/gnome/gnome_bed.sh"

extension=$(sed -n 's/^VELMORA_GNOME_EXTENSION_DIR:INTERNAL=//p' "$build/CMakeCache.txt")
gbed_start "$extension" enabled
gbed_start_player
# On the other monitor, out of the picture.
gbed_move_player 1
BED_VELMORA_DEBUG=0 gbed_start_velmora "$build/src/app/shell/velmora"
shown() { [ "$(gbed_topbar | jq -r '.menu[0].title')" = "Tracking mpv Media Player" ]; }
bed_wait 30 shown || bed_fail "velmora's menu did not show the player: $(gbed_topbar)"
gbed_test OpenTopBarMenu
# The menu's own animation, and its size once drawn.
sleep 1
read -r -a area < <(gbed_topbar | jq -r '.area | map(tostring) | join(" ")')
[ "${#area[@]}" = 4 ] || bed_fail "the menu did not open: $(gbed_topbar)"
gjs "$GBED_TOOL" screenshot "$BED_DIR/topbar.png" "${area[@]}" || bed_fail "no screenshot"
cp "$BED_DIR/topbar.png" "$out"
echo "wrote $out"
