#!/bin/bash
# The real velmora's command line, with no display at all: --version and
# --help print and exit 0, anything else it does not know exits 2 with the
# error on standard error only.
set -u
velmora=${1:?usage: velmora_cli.sh VELMORA VERSION}
version=${2:?usage: velmora_cli.sh VELMORA VERSION}
work=$(mktemp -d /tmp/velmora-cli-XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# run NAME ARGS...: output in $work/NAME.out and .err, status in $status.
run() {
  local name=$1; shift
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" > "$work/$name.out" 2> "$work/$name.err"
  status=$?
}

run version VELMORA_SESSION=hyprland "$velmora" --version
[ "$status" = 0 ] || fail "--version exited with $status: $(cat "$work/version.err")"
first=$(head -n1 "$work/version.out")
[[ "$first" =~ ^velmora\ $version\ \(build\ [^\)]+\)$ ]] || fail "--version printed \"$first\""
grep -qx "session: hyprland (forced by VELMORA_SESSION)" "$work/version.out" || fail "--version names no session"

run help "$velmora" --help
[ "$status" = 0 ] || fail "--help exited with $status"
grep -q -- "--no-tray" "$work/help.out" || fail "--help does not list --no-tray"

for bad in --frobnicate -x movie.mkv "--no-tray=1"; do
  run bad "$velmora" "$bad"
  [ "$status" = 2 ] || fail "$bad: exit status $status, expected 2"
  [ -s "$work/bad.out" ] && fail "$bad: printed on standard output"
  grep -q "^velmora: " "$work/bad.err" || fail "$bad: no error on standard error"
done

[ "$failed" = 0 ] && echo "PASS: velmora's command line"
exit "$failed"
