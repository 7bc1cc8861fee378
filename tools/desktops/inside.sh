#!/bin/bash
# The part of tools/test-desktops.sh that runs inside a bed chroot, as root:
#   inside.sh build RELEASE             velmora and what the e2e suites run,
#                                        warnings as errors, in build-RELEASE/
#   inside.sh test RELEASE REGEX [FILTER]  the e2e tests whose names match
#                                        REGEX (and FILTER)
#   inside.sh package RELEASE           the Debian package, lintian, install
#   inside.sh bench RELEASE SUITE...    the desktop benchmarks (sway gnome kde),
#                                        VELMORA_BENCH_SECONDS a span (60)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
mode=${1:?usage: inside.sh build|test|package|bench RELEASE ...}
release=${2:?usage: inside.sh MODE RELEASE ...}
shift 2
build=$root/build-$release
# The chroot holds every package the beds need; nothing to install.
export VELMORA_SKIP_DEPS=1

configure() {
  mkdir -p "$build"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DVELMORA_BUILD_TESTS=ON "$@" > "$build/configure.log" ||
    {
      cat "$build/configure.log"
      return 1
    }
}

case "$mode" in
  build)
    echo "== $release: $(g++ --version | head -n 1), Qt $(pkg-config --modversion Qt6Core 2> /dev/null)"
    configure -DVELMORA_BUILD_BENCH=OFF
    nice cmake --build "$build" -j "${VELMORA_JOBS:-2}" --target velmora-e2e-programs
    ;;
  test)
    regex=${1:?usage: inside.sh test RELEASE REGEX [FILTER]}
    filter=${2:-}
    cd "$build"
    mapfile -t names < <(ctest -N -L e2e | sed -n 's/^ *Test *#[0-9]*: //p' | grep -E -- "$regex" |
      grep -E -- "${filter:-.}" || true)
    [ "${#names[@]}" -gt 0 ] || {
      echo "no e2e test matches $regex" >&2
      exit 1
    }
    # ctest takes one expression: the chosen names, whole.
    pattern=$(printf '%s\n' "${names[@]}" | sed 's/\./\\./g' | paste -sd'|')
    ctest -L e2e -R "^($pattern)\$" --output-on-failure --timeout 300 | tee "$build/e2e.log"
    # Every program of the beds is in the chroot: a skipped test is a failure.
    if grep -E '\*\*\*Skipped|Not Run' "$build/e2e.log"; then
      echo "a bed test was skipped in the $release chroot, which has every package it needs" >&2
      exit 1
    fi
    ;;
  package)
    export VELMORA_PACKAGE_DIR=$root/build-deb-$release
    deb=$("$root/tools/package.sh")
    echo "== $release package: $deb"
    lintian --fail-on error,warning --display-info "$deb"
    apt-get update -qq
    "$root/tests/packaging/install_check.sh" "$deb"
    ;;
  bench)
    # What only the benchmarks use goes into this run's throwaway layer.
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends libbenchmark-dev foot > /dev/null
    seconds=${VELMORA_BENCH_SECONDS:-60}
    configure -DVELMORA_BUILD_BENCH=ON
    nice cmake --build "$build" -j "${VELMORA_JOBS:-2}" --target velmora-e2e-programs bench_linux_desktop
    failed=0
    for suite in "$@"; do
      echo "== $release benchmark: $suite"
      case "$suite" in
        sway) "$root/bench/sway_bench.sh" "$build" pipewire "$seconds" ;;
        gnome) "$root/bench/gnome_bench.sh" "$build" "$seconds" ;;
        kde) "$root/bench/kde_bench.sh" "$build" "$seconds" ;;
        x11) "$root/bench/desktop_bench.sh" "$build" pipewire "$seconds" ;;
      esac || {
        echo "== $release benchmark: $suite FAILED"
        failed=1
      }
    done
    exit "$failed"
    ;;
  *)
    echo "inside.sh: unknown mode $mode" >&2
    exit 2
    ;;
esac
