// The reads the routing core repeats while it follows a player, against the
// real X server and sound server of the session it is started in:
//   - one read of the player's on-screen windows (every 250 ms while
//     tracking), and the whole on-screen window list for comparison,
//   - one AudioProcessMonitor::playingProcesses (every 500 ms),
// and, for scale, one bare X round trip.
// Meant for the desktop test bed with mpv playing and many other windows open
// (bench/desktop_bench.sh sets that up); it refuses to measure an empty
// desktop, which would flatter the figures.
//
// Reports the median as well as the mean: a shared machine makes the mean
// noisy, while the target is about the typical read.

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "audio/AudioHardware.h"
#include "audio/AudioProcessMonitor.h"
#include "platform/linux/LinuxPlatform.h"

using namespace velmora;

namespace {

// Windows the bed must show before the window benchmark means anything.
constexpr std::size_t kMinimumWindows = 10;

Platform& platform() {
  static Platform instance = linuxos::makeLinuxPlatform(linuxos::makeAsioQueue("bench.main"));
  return instance;
}

// The sound-server client connects on its own thread; give it a moment.
bool soundServerReady(const AudioHardware& audio) {
  for (int i = 0; i < 50; ++i) {
    if (!audio.outputDevices().empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

void BM_WindowListRead(benchmark::State& state) {
  auto& windows = *platform().windows;
  const auto first = windows.onScreenWindows();
  if (!first || first->size() < kMinimumWindows) {
    state.SkipWithError("too few windows on screen: is the test bed up?");
    return;
  }
  std::size_t count = 0;
  for (auto _ : state) {
    auto list = windows.onScreenWindows();
    count = list ? list->size() : 0;
    benchmark::DoNotOptimize(list);
  }
  state.counters["windows"] = static_cast<double>(count);
}
BENCHMARK(BM_WindowListRead)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The read the tracker makes: the windows of the player it follows, among all
// the others.
void BM_PlayerWindowsRead(benchmark::State& state) {
  const AudioHardware audio(platform().audio);
  if (!soundServerReady(audio)) {
    state.SkipWithError("no sound server");
    return;
  }
  const auto playing = AudioProcessMonitor::playingProcesses(audio);
  if (playing.empty()) {
    state.SkipWithError("nothing is playing: is mpv up?");
    return;
  }
  auto& windows = *platform().windows;
  const Pid player = playing.front().pid;
  std::size_t count = 0;
  for (auto _ : state) {
    auto list = windows.onScreenWindowsOf(player);
    count = list ? list->size() : 0;
    benchmark::DoNotOptimize(list);
  }
  state.counters["windows"] = static_cast<double>(count);
}
BENCHMARK(BM_PlayerWindowsRead)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The floor under any X read: one request and its reply on a connection of our
// own, so a window-list read can be told in round trips.
void BM_XRoundTrip(benchmark::State& state) {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    state.SkipWithError("no X server");
    return;
  }
  for (auto _ : state) {
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  }
  xcb_disconnect(c);
}
BENCHMARK(BM_XRoundTrip)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_PlayingProcesses(benchmark::State& state) {
  const AudioHardware audio(platform().audio);
  if (!soundServerReady(audio)) {
    state.SkipWithError("no sound server");
    return;
  }
  if (AudioProcessMonitor::playingProcesses(audio).empty()) {
    state.SkipWithError("nothing is playing: is mpv up?");
    return;
  }
  std::size_t playing = 0;
  for (auto _ : state) {
    auto processes = AudioProcessMonitor::playingProcesses(audio);
    playing = processes.size();
    benchmark::DoNotOptimize(processes);
  }
  state.counters["playing"] = static_cast<double>(playing);
  state.counters["streams"] = static_cast<double>(audio.processObjects().size());
}
BENCHMARK(BM_PlayingProcesses)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
