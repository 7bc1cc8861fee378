#!/usr/bin/env bash
# Builds the Debian package, velmora_VERSION-REVISION_ARCH.deb, in a build
# folder of its own (build-deb, or $VELMORA_PACKAGE_DIR) with Debian's
# compiler and linker hardening flags, and prints its path.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/tools/deps.sh"
velmora_install_packages "${VELMORA_BUILD_PACKAGES[@]}"

build="${VELMORA_PACKAGE_DIR:-$root/build-deb}"
cd "$root"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -G Ninja "${launcher[@]}" \
  -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF > /dev/null
# Only the package's own programs, then CPack.
cmake --build "$build" --target package >&2
ls "$build"/velmora_*.deb
