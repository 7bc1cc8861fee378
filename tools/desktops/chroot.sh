# shellcheck shell=bash
# Chroots of newer Debian releases for the desktop beds, made with mmdebstrap
# and kept outside any clone, in $VELMORA_CHROOTS (/var/cache/velmora/chroots):
#   RELEASE-KEY/      a chroot; KEY is a hash of its package list and options
#   RELEASE ->        a link to the one in use
# A chroot is remade beside the old one, and the link switched, when its list
# changes or when it is older than a week; runs hold a shared lock on it, so
# one in use is never pruned. Sourced by tools/test-desktops.sh.

VELMORA_CHROOTS=${VELMORA_CHROOTS:-/var/cache/velmora/chroots}
VELMORA_MIRROR=${VELMORA_MIRROR:-http://deb.debian.org/debian}
# Seconds after which a chroot is made again, to follow the release.
VELMORA_CHROOT_MAX_AGE=${VELMORA_CHROOT_MAX_AGE:-604800}

# What every bed needs: the build, the sound servers, the player, the four
# sessions and their tools.
chroot_packages() {
  local release=$1
  local packages=(
    build-essential cmake ninja-build pkg-config ccache
    libgtest-dev libgmock-dev libasio-dev nlohmann-json3-dev libicu-dev libsystemd-dev
    libpulse-dev libxcb1-dev libxcb-randr0-dev libxcb-res0-dev
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-qpa-plugins qt6-wayland
    libwayland-dev wayland-protocols plasma-wayland-protocols
    dbus dbus-bin libglib2.0-bin pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber
    mpv sox jq procps psmisc libgl1-mesa-dri libegl-mesa0 fonts-dejavu-core
    sway weston kwin-wayland qdbus-qt6 gnome-shell gjs
    xvfb x11-xserver-utils x11-utils openbox wmctrl xdotool
  )
  # The Debian package is built, checked and installed on trixie.
  [ "$release" = trixie ] && packages+=(dpkg-dev file lintian desktop-file-utils appstream man-db)
  printf '%s\n' "${packages[@]}"
}

chroot_options() {
  local release=$1
  printf '%s\n' --mode=root --variant=minbase --skip=cleanup/apt --aptopt='Acquire::Retries "3"'
  # sid's Release file is sometimes past its Valid-Until on the mirror.
  [ "$release" = sid ] && printf '%s\n' --aptopt='Acquire::Check-Valid-Until "false"'
  true
}

chroot_key() {
  { chroot_packages "$1"; chroot_options "$1"; echo "$VELMORA_MIRROR"; } | sha256sum | cut -c1-12
}

# The chroot RELEASE's link points at, if it is complete.
chroot_current() {
  local dir
  dir=$(readlink -f "$VELMORA_CHROOTS/$1" 2> /dev/null) || return 1
  [ -f "$dir/.velmora-made" ] && echo "$dir"
}

# Whether the chroot at DIR was made from today's list and is young enough.
chroot_fresh() {
  local dir=$1 release=$2 made
  [[ $(basename "$dir") == "$release-$(chroot_key "$release")-"* ]] || return 1
  made=$(cat "$dir/.velmora-made" 2> /dev/null) || return 1
  (($(date +%s) - made < VELMORA_CHROOT_MAX_AGE))
}

# Prints the path of a fresh chroot of RELEASE, making it first when needed.
# Fails, saying why on standard error, when it cannot be made.
chroot_ensure() {
  local release=$1 current
  mkdir -p "$VELMORA_CHROOTS"
  current=$(chroot_current "$release") && chroot_fresh "$current" "$release" && {
    echo "$current"
    return 0
  }
  # One maker a release at a time; whoever waited finds it made.
  (
    flock 9
    current=$(chroot_current "$release") && chroot_fresh "$current" "$release" && {
      echo "$current"
      exit 0
    }
    chroot_make "$release"
  ) 9> "$VELMORA_CHROOTS/.$release.make.lock"
}

chroot_make() {
  local release=$1 target started options=()
  target=$VELMORA_CHROOTS/$release-$(chroot_key "$release")-$(date +%Y%m%d%H%M%S)
  mapfile -t options < <(chroot_options "$release")
  started=$(date +%s)
  echo "making the $release chroot in $target (mmdebstrap from $VELMORA_MIRROR)" >&2
  if ! mmdebstrap "${options[@]}" --include="$(chroot_packages "$release" | paste -sd,)" \
    "$release" "$target.tmp" "$VELMORA_MIRROR" > "$target.log" 2>&1; then
    echo "mmdebstrap could not make the $release chroot; the end of its log ($target.log):" >&2
    tail -n 15 "$target.log" >&2
    rm -rf "$target.tmp"
    return 1
  fi
  # dbus and PipeWire want a machine id; mmdebstrap leaves it empty.
  od -An -N16 -tx1 /dev/urandom | tr -d ' \n' > "$target.tmp/etc/machine-id"
  date +%s > "$target.tmp/.velmora-made"
  mv "$target.tmp" "$target"
  ln -sfn "$(basename "$target")" "$VELMORA_CHROOTS/.$release.link"
  mv -T "$VELMORA_CHROOTS/.$release.link" "$VELMORA_CHROOTS/$release"
  echo "made the $release chroot in $(($(date +%s) - started)) s: $target" >&2
  chroot_prune "$release"
  echo "$target"
}

# Removes the chroots of RELEASE the link no longer points at, unless a run
# still holds one (chroot_hold).
chroot_prune() {
  local release=$1 current dir
  current=$(readlink -f "$VELMORA_CHROOTS/$release")
  for dir in "$VELMORA_CHROOTS/$release"-*/; do
    dir=${dir%/}
    if [ ! -d "$dir" ] || [ "$dir" = "$current" ]; then continue; fi
    (flock -xn 9 && rm -rf "$dir" "$dir.log") 9> "$dir.lock" && rm -f "$dir.lock"
  done
}

# Holds a shared lock on the chroot DIR on descriptor 8 until the caller
# exits, so that no maker prunes it meanwhile.
chroot_hold() {
  exec 8> "$1.lock"
  flock -s 8
}
