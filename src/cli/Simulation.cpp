#include "cli/Simulation.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "audio/AudioProcessMonitor.h"
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

std::string deviceText(const sim::SimAudio& audio, AudioDeviceID device) {
  const auto d = audio.device(device);
  return std::to_string(device) + ' ' + (d && d->name ? *d->name : std::string("?"));
}

// Where the followed application's streams play: a line for each when the
// application starts being followed or gains a stream, and whenever one
// plays elsewhere. A stream that moved at the instant it came to be followed
// shows where it was first, so a move made at once is seen too.
class StreamLines {
 public:
  StreamLines(std::ostream& out, sim::SimDesktop& desktop, SimulationStats& stats)
      : out_(out), desktop_(desktop), stats_(stats) {}

  void follow(const std::optional<FollowedApplication>& app) {
    if (!app || !followed_ || app->pid != followed_->pid) printed_.clear();
    followed_ = app;
    if (!app) return;
    std::erase_if(printed_, [&](const auto& entry) { return !isFollowed(entry.first); });
    for (const auto& stream : app->streams) {
      const auto earlier = earlier_.find(stream.id);
      if (!printed_.contains(stream.id) && earlier != earlier_.end() && instant_ == now()) {
        print(stream.id, earlier->second);
      }
      print(stream.id, desktop_.audio().streamDevice(stream.id));
    }
  }

  void moved(AudioObjectID stream, AudioDeviceID from, AudioDeviceID to) {
    if (instant_ != now()) {
      instant_ = now();
      earlier_.clear();
    }
    earlier_.try_emplace(stream, from);
    print(stream, to);
  }

 private:
  double now() const { return desktop_.scheduler().nowSeconds(); }

  bool isFollowed(AudioObjectID stream) const {
    return followed_ && std::any_of(followed_->streams.begin(), followed_->streams.end(),
                                    [stream](const FollowedStream& s) { return s.id == stream; });
  }

  void print(AudioObjectID stream, AudioDeviceID device) {
    if (!isFollowed(stream)) return;
    const auto [it, first] = printed_.try_emplace(stream, device);
    if (!first && it->second == device) return;
    it->second = device;
    out_ << timeText(now()) << " stream " << stream << ' ' << followed_->name << " \u2192 "
         << deviceText(desktop_.audio(), device) << '\n';
    ++stats_.transcriptLines;
  }

  std::ostream& out_;
  sim::SimDesktop& desktop_;
  SimulationStats& stats_;
  std::optional<FollowedApplication> followed_;
  std::map<AudioObjectID, AudioDeviceID> printed_;
  // Where each stream moved at this instant played when the instant began.
  double instant_ = -1;
  std::map<AudioObjectID, AudioDeviceID> earlier_;
};

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
    out << timeText(scheduler.nowSeconds()) << " default " << deviceText(desktop.audio(), device) << '\n';
    ++stats.transcriptLines;
  };
  StreamLines streamLines(out, desktop, stats);
  desktop.audio().onStreamDeviceChanged = [&](AudioObjectID stream, AudioDeviceID from, AudioDeviceID to) {
    streamLines.moved(stream, from, to);
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
  coordinator->onFollowedChanged = [&](const std::optional<FollowedApplication>& app) { streamLines.follow(app); };
  coordinator->startRouting();

  for (const auto& event : scenario.events) {
    if (event.at > scenario.until) break;
    // Events at an instant come before the queue work due at that instant.
    scheduler.runBefore(sim::seconds(event.at));
    desktop.apply(event);
  }
  scheduler.runUntil(sim::seconds(scenario.until));
  out.flush();

  stats.queueItems = scheduler.executedCount();
  desktop.audio().onDefaultDeviceChanged = nullptr;
  desktop.audio().onStreamDeviceChanged = nullptr;
  return stats;
}

}  // namespace velmora
