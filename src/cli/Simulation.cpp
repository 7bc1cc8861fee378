#include "cli/Simulation.h"

#include <cstdio>
#include <optional>
#include <string>

#include "audio/AudioProcessMonitor.h"
#include "display/SpeakerBindings.h"
#include "platform/Log.h"
#include "platform/sim/SimDesktop.h"
#include "routing/RoutingCoordinator.h"

namespace velmora {

namespace {

std::string timeText(double seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", seconds);
  return buf;
}

class TranscriptLog final : public LogSink {
 public:
  TranscriptLog(std::ostream& out, sim::VirtualScheduler& scheduler, SimulationStats& stats)
      : out_(out), scheduler_(scheduler), stats_(stats) {}
  void write(const LogRecord& r) override {
    out_ << timeText(scheduler_.nowSeconds()) << " log " << r.category << ' ' << logLevelName(r.level) << ' '
         << r.message << '\n';
    ++stats_.transcriptLines;
  }

 private:
  std::ostream& out_;
  sim::VirtualScheduler& scheduler_;
  SimulationStats& stats_;
};

// What a display's speakers menu does with the user's pick.
void chooseSpeakers(sim::SimDesktop& desktop, DisplayID displayID, AudioDeviceID device) {
  std::optional<DisplayIdentity> display;
  std::vector<DisplayIdentity> connected;
  for (const PlatformScreen& screen : desktop.screens().screens()) {
    const auto id = toUInt32(screen.screenNumber);
    if (!id) continue;
    connected.push_back(screen.identity);
    if (*id == displayID && !display) display = screen.identity;
  }
  if (!display) return;
  std::optional<std::string> uid;
  if (device != 0) {
    const auto chosen = desktop.audio().device(device);
    if (!chosen || !chosen->uid) return;
    uid = chosen->uid;
  }
  velmora::chooseSpeakers(desktop.speakerChoices(), *display, connected, uid);
}

// Restores the previous process-wide log sink when the run ends.
class SinkScope {
 public:
  explicit SinkScope(std::shared_ptr<LogSink> sink) : previous_(logSink()) { setLogSink(std::move(sink)); }
  ~SinkScope() { setLogSink(previous_); }
  SinkScope(const SinkScope&) = delete;
  SinkScope& operator=(const SinkScope&) = delete;

 private:
  std::shared_ptr<LogSink> previous_;
};

}  // namespace

SimulationStats runSimulation(const sim::Scenario& scenario, std::ostream& out, SimulationOptions options) {
  SimulationStats stats;
  // The monitor's bookkeeping is process-wide; each run starts afresh.
  AudioProcessMonitor::resetForTesting();

  sim::SimDesktop desktop(scenario);
  auto& scheduler = desktop.scheduler();
  SinkScope sinkScope(options.trace ? std::make_shared<TranscriptLog>(out, scheduler, stats) : nullptr);

  desktop.audio().onDefaultDeviceChanged = [&](AudioDeviceID device) {
    std::string name = "?";
    if (auto d = desktop.audio().device(device); d && d->name) name = *d->name;
    out << timeText(scheduler.nowSeconds()) << " default " << device << ' ' << name << '\n';
    ++stats.transcriptLines;
  };

  auto coordinator = RoutingCoordinator::create(desktop.platform());
  std::optional<std::pair<RoutingStatus, std::string>> lastPrinted;
  coordinator->onStatusChanged = [&](RoutingStatus status, const std::string& message) {
    ++stats.statusReports;
    if (lastPrinted && lastPrinted->first == status && lastPrinted->second == message) return;
    lastPrinted = std::make_pair(status, message);
    out << timeText(scheduler.nowSeconds()) << " status " << routingStatusName(status) << ' ' << message << '\n';
    ++stats.transcriptLines;
  };
  coordinator->startRouting();

  for (const auto& event : scenario.events) {
    if (event.at > scenario.until) break;
    // Events at an instant come before the queue work due at that instant.
    scheduler.runBefore(sim::seconds(event.at));
    if (event.kind == sim::ScenarioEvent::Kind::chooseSpeakers) {
      chooseSpeakers(desktop, event.display, event.device);
    } else {
      desktop.apply(event);
    }
  }
  scheduler.runUntil(sim::seconds(scenario.until));
  out.flush();

  stats.queueItems = scheduler.executedCount();
  desktop.audio().onDefaultDeviceChanged = nullptr;
  return stats;
}

}  // namespace velmora
