#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan) in
# build-fuzz/ and runs each for SECONDS (default 60) from its checked-in corpus
# under fuzz/corpus/, two at a time. Fails when a target finds a crash, a
# leak or a hang; the input that did it is kept in build-fuzz/findings/.
#
#   tools/fuzz.sh [SECONDS] [TARGET...]     e.g. tools/fuzz.sh 10 edid proc
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
# shellcheck source=SCRIPTDIR/deps.sh
source tools/deps.sh
velmora_install_packages "${VELMORA_BUILD_PACKAGES[@]}"

seconds="${1:-60}"
shift || true
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  targets=(edid scenario appcast desktop_entry proc pulse_properties x11_properties)
fi
build="${VELMORA_FUZZ_BUILD_DIR:-$root/build-fuzz}"

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVELMORA_FUZZ=ON -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" --target "${targets[@]/#/fuzz_}"

run_one() {
  local t="$1"
  local corpus="$build/corpus/$t" findings="$build/findings/$t"
  mkdir -p "$corpus" "$findings"
  # New inputs go to the build's corpus; the checked-in one is only read.
  if "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" "fuzz/corpus/$t" >"$build/fuzz-$t.log" 2>&1; then
    echo "fuzz $t: ok ($(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$build/fuzz-$t.log" | grep -o '[0-9]*$') runs)"
  else
    echo "fuzz $t: FAILED, see $build/fuzz-$t.log and $findings/"
    tail -n 40 "$build/fuzz-$t.log"
    return 1
  fi
}

# Two at a time: one per core of a small CI machine.
failed=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  pids=()
  for t in "${targets[@]:i:2}"; do
    run_one "$t" &
    pids+=("$!")
  done
  for pid in "${pids[@]}"; do
    wait "$pid" || failed=1
  done
done
exit "$failed"
