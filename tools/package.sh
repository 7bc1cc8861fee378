#!/usr/bin/env bash
# Builds the Debian package, velmora_VERSION-REVISION_ARCH.deb, in a build
# folder of its own (build-deb, or $VELMORA_PACKAGE_DIR) with Debian's
# compiler and linker hardening flags, and prints its path.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/tools/deps.sh"
# Standard output carries only the path of the package.
velmora_install_packages "${VELMORA_BUILD_PACKAGES[@]}" "${VELMORA_PACKAGING_PACKAGES[@]}" >&2

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
# One package in the folder, so its path is certain.
rm -f "$build"/velmora_*.deb
cmake --build "$build" --target package >&2
ls "$build"/velmora_*.deb
