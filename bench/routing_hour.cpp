// One hour of virtual time on a busy simulated desktop: 3 displays, 6 audio
// devices, 8 applications, 30 windows, streams starting and stopping every few
// seconds and windows moving. Reports the CPU time one virtual hour costs.

#include <benchmark/benchmark.h>

#include <ostream>
#include <random>
#include <streambuf>

#include "cli/Simulation.h"

using namespace velmora;

namespace {

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

sim::Scenario busyHour() {
  sim::Scenario s;
  const Rect frames[] = {{0, 0, 1920, 1080}, {1920, 0, 2560, 1440}, {4480, 0, 3840, 2160}};
  const char* displayNames[] = {"Aster U27 (HDMI)", "Borealis QHD", "Kestrel OLED TV"};
  for (int i = 0; i < 3; ++i)
    s.displays.push_back(PlatformScreen{PlatformValue(std::int64_t{i + 1}), frames[i], displayNames[i]});

  const char* deviceNames[] = {"Aster U27",      "Borealis QHD Speakers", "Kestrel OLED TV",
                               "USB Headphones", "Built-in Output",       "Nimbus Dock Audio"};
  for (AudioDeviceID i = 0; i < 6; ++i)
    s.devices.push_back({70 + i, deviceNames[i], true, true, true, 0});
  s.defaultDevice = 70;

  const char* bundles[] = {"com.google.Chrome", "org.mozilla.firefox", "org.videolan.vlc",   "com.plex.Plex",
                           "com.apple.Safari",  "io.iina.iina",        "org.example.editor", "org.example.chat"};
  for (Pid i = 0; i < 8; ++i) {
    Pid pid = 1000 + 100 * i;
    s.apps.push_back(RunningApplication{pid, bundles[i], std::string("App ") + std::to_string(i)});
    s.processes.push_back({pid + 1, pid});  // a helper process that plays the audio
    s.streams.push_back(sim::SimAudio::Stream{900u + static_cast<AudioObjectID>(i), pid + 1, std::nullopt, i < 2});
  }

  std::mt19937 rng(42);
  auto randomBounds = [&] {
    std::uniform_real_distribution<double> x(-200, 8000), y(0, 1800), w(80, 2400), h(80, 1400);
    return Rect{x(rng), y(rng), w(rng), h(rng)};
  };
  for (int i = 0; i < 30; ++i)
    s.windows.push_back(sim::SimWindow{"w" + std::to_string(i), 1000 + 100 * (i % 8), randomBounds(), true});

  // A stream starts or stops every 3 s and a window moves every 2 s.
  std::vector<bool> running(8);
  running[0] = running[1] = true;
  for (double t = 1.0; t < 3600.0; t += 1.0) {
    sim::ScenarioEvent e;
    e.at = t + 0.05;
    if (static_cast<int>(t) % 3 == 0) {
      int i = static_cast<int>(rng() % 8);
      running[i] = !running[i];
      e.kind = sim::ScenarioEvent::Kind::setRunning;
      e.stream = 900u + static_cast<AudioObjectID>(i);
      e.running = running[i];
      s.events.push_back(e);
    } else if (static_cast<int>(t) % 2 == 0) {
      e.kind = sim::ScenarioEvent::Kind::moveWindow;
      e.window = "w" + std::to_string(rng() % 30);
      e.bounds = randomBounds();
      s.events.push_back(e);
    }
  }
  s.until = 3600.0;
  return s;
}

void BM_OneVirtualHour(benchmark::State& state) {
  const sim::Scenario scenario = busyHour();
  NullBuffer nothing;
  std::ostream sink(&nothing);
  SimulationStats stats;
  for (auto _ : state)
    stats = runSimulation(scenario, sink);
  state.counters["queue_items"] = static_cast<double>(stats.queueItems);
  state.counters["status_reports"] = static_cast<double>(stats.statusReports);
  state.counters["transcript_lines"] = static_cast<double>(stats.transcriptLines);
}
BENCHMARK(BM_OneVirtualHour)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
