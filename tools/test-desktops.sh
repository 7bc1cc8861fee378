#!/bin/bash
# Builds velmora inside chroots of newer Debian releases, with each release's
# compiler and Qt, and runs the end-to-end suites there on today's desktops:
#   trixie (Debian 13): X11, sway 1.10, GNOME 48, KWin 6.3
#   sid (unstable):     sway 1.12, GNOME 51, KWin 6.7
# The chroots are made with mmdebstrap on first use and kept outside the
# clone (tools/desktops/chroot.sh); the build goes to build-RELEASE/ in the
# source tree. Needs root.
#
#   tools/test-desktops.sh [--release R]... [--only SUITE]... [-R REGEX]
#                          [--source DIR] [--package] [--bench] [--make]
#                          [--shell]
#   --release R   trixie or sid (default: both)
#   --only SUITE  x11, sway, gnome or kde (default: all a release runs)
#   -R REGEX      only the tests of those suites whose names match
#   --source DIR  the tree to build and test (default: this script's)
#   --package     also build the Debian package on trixie, check it with
#                 lintian, install, run and purge it there
#   --bench       run the desktop benchmarks instead of the tests
#                 (VELMORA_BENCH_SECONDS per span, 60 by default)
#   --make        only make (or refresh) the chroots
#   --shell       a shell inside the chroot of the first release
# A chroot that cannot be made (mirror unreachable, sid mid-transition) is
# reported and skipped, except trixie's, which fails the run.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/desktops/chroot.sh
source "$here/desktops/chroot.sh"

usage() {
  sed -n '/^#   tools\/test-desktops.sh/,/^# reported/p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}
releases=() suites=() filter="" source_dir=$(cd "$here/.." && pwd) mode=test package=0
while [ $# -gt 0 ]; do
  case "$1" in
    --release) releases+=("${2:?}") && shift ;;
    --only) suites+=("${2:?}") && shift ;;
    -R) filter=${2:?} && shift ;;
    --source) source_dir=$(cd "${2:?}" && pwd) && shift ;;
    --package) package=1 ;;
    --bench | --make | --shell) mode=${1#--} ;;
    *) usage ;;
  esac
  shift
done
[ "$(id -u)" = 0 ] || {
  echo "test-desktops.sh: needs root (it makes chroots and mounts)" >&2
  exit 2
}
[ ${#releases[@]} -gt 0 ] || releases=(trixie sid)

release_suites() {
  case "$1" in
    trixie) echo x11 sway gnome kde ;;
    sid) echo sway gnome kde ;;
    *) return 1 ;;
  esac
}
# Each suite's tests, by name: whatever the suites register is run.
suite_regex() {
  case "$1" in
    x11) echo '^e2e\.(pulse|pipewire)\.' ;;
    sway | gnome | kde) echo "^e2e\\.$1\\." ;;
    *) return 1 ;;
  esac
}

inside() {
  local chroot=$1
  shift
  "$here/desktops/enter.sh" "$chroot" "$source_dir" "$source_dir/tools/desktops/inside.sh" "$@"
}

summary=() status=0
note() {
  summary+=("$1")
  echo "== $1"
}

run_release() {
  local release=$1 chroot chosen=() suite regex=() available
  available=" $(release_suites "$release") " || {
    note "$release: unknown release"
    status=1
    return
  }
  local wanted=("${suites[@]}")
  [ ${#wanted[@]} -gt 0 ] || read -r -a wanted <<< "$available"
  for suite in "${wanted[@]}"; do
    if [[ $available == *" $suite "* ]]; then chosen+=("$suite"); else echo "($release has no $suite bed)"; fi
  done
  if ! chroot=$(chroot_ensure "$release"); then
    echo "###############################################################" >&2
    echo "### the $release bed could not be made: its tests did NOT run ###" >&2
    echo "###############################################################" >&2
    note "$release: NOT RUN, the chroot could not be made"
    [ "$release" = trixie ] && status=1
    return
  fi
  chroot_hold "$chroot"
  case "$mode" in
    make)
      note "$release: chroot $chroot"
      return
      ;;
    shell)
      "$here/desktops/enter.sh" "$chroot" "$source_dir" bash -c "cd '$source_dir' && exec bash -i"
      exit
      ;;
  esac
  [ ${#chosen[@]} -gt 0 ] || return
  if [ "$mode" = bench ]; then
    inside "$chroot" bench "$release" "${chosen[@]}" || status=1
    return
  fi
  local started=$SECONDS
  if ! inside "$chroot" build "$release"; then
    note "$release: FAILED to build ($((SECONDS - started)) s)"
    status=1
    return
  fi
  note "$release: built in $((SECONDS - started)) s"
  for suite in "${chosen[@]}"; do regex+=("$(suite_regex "$suite")"); done
  started=$SECONDS
  if inside "$chroot" test "$release" "$(IFS='|'; echo "${regex[*]}")" "$filter"; then
    note "$release: ${chosen[*]} passed ($((SECONDS - started)) s)"
  else
    note "$release: ${chosen[*]} FAILED ($((SECONDS - started)) s)"
    status=1
  fi
  if [ "$package" = 1 ] && [ "$release" = trixie ]; then
    started=$SECONDS
    if inside "$chroot" package "$release"; then
      note "$release: package built, lintian clean, installed, ran and purged ($((SECONDS - started)) s)"
    else
      note "$release: package FAILED ($((SECONDS - started)) s)"
      status=1
    fi
  fi
}

for release in "${releases[@]}"; do
  # Each release in a subshell: its chroot hold ends with it.
  if ! (
    run_release "$release"
    printf '%s\n' "${summary[@]}" > "/tmp/velmora-desktops.$$.$release"
    exit $status
  ); then status=1; fi
done
echo "== desktop beds:"
for release in "${releases[@]}"; do
  sed 's/^/   /' "/tmp/velmora-desktops.$$.$release" 2> /dev/null
  rm -f "/tmp/velmora-desktops.$$.$release"
done
exit $status
