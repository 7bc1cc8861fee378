// Which application we follow: the supported one that has been producing
// audio the longest, with a short memory for pauses.

#include <limits>

#include "routing/RoutingCoordinator.h"
#include "routing/RoutingLog.h"

namespace velmora {

namespace {
constexpr double kCandidateGracePeriod = 2.0;
constexpr int kAncestorLookupLimit = 10;
}  // namespace

const std::set<std::string>& RoutingCoordinator::supportedMediaApps() {
  static const std::set<std::string> apps = {
      "com.google.Chrome",    "com.google.Chrome.canary",
      "com.apple.Safari",     "com.apple.SafariTechnologyPreview",
      "org.mozilla.firefox",  "org.mozilla.firefoxdeveloperedition",
      "io.iina.iina",         "org.videolan.vlc",
      "com.firecore.infuse7", "com.firecore.Infuse",
      "com.plex.Plex",        "com.apple.TV",
  };
  return apps;
}

const std::vector<std::pair<std::string, std::vector<std::string>>>& RoutingCoordinator::ownerPrefixTable() {
  static const std::vector<std::pair<std::string, std::vector<std::string>>> table = {
      {"com.apple.WebKit", {"com.apple.Safari", "com.apple.SafariTechnologyPreview"}},
  };
  return table;
}

void RoutingCoordinator::pollAudioProducers() {
  auto streams = AudioProcessMonitor::playingStreams(audio_);
  Timestamp pollTime = platform_.clock->now();
  std::weak_ptr<RoutingCoordinator> weak = weak_from_this();
  // The owners are looked up on this queue, as a block of their own: a few
  // /proc reads, where a hop to another thread and back would wake two
  // threads at every poll.
  routingQueue->async([weak, streams = std::move(streams), pollTime] {
    if (auto s = weak.lock()) s->resolveCandidates(streams, pollTime);
  });
}

void RoutingCoordinator::resolveCandidates(const std::vector<PlayingStream>& streams, Timestamp pollTime) {
  std::vector<TrackedApp> candidates;
  std::map<Pid, std::vector<AudioObjectID>> streamsByOwner;
  for (const auto& stream : streams) {
    auto owner = resolveOwnerApp(stream.process.pid, stream.process.bundleID);
    if (!owner) continue;
    auto& owned = streamsByOwner[owner->processIdentifier];
    owned.push_back(stream.object);
    // One candidate per application, however many streams it plays.
    if (owned.size() > 1) continue;
    candidates.push_back(
        TrackedApp{owner->processIdentifier, owner->bundleIdentifier, owner->localizedName.value_or("app")});
  }
  auto self = shared_from_this();
  routingQueue->async(
      [self, candidates = std::move(candidates), streamsByOwner = std::move(streamsByOwner), pollTime]() mutable {
        self->updateCandidates(candidates, std::move(streamsByOwner), pollTime);
      });
}

std::optional<RunningApplication> RoutingCoordinator::resolveOwnerApp(
    Pid pid, const std::optional<std::string>& bundleID) const {
  if (auto app = nearestRunningApplication(pid)) {
    if (app->bundleIdentifier && followedApps_.contains(*app->bundleIdentifier)) return app;
  }
  if (!bundleID) return std::nullopt;
  for (const auto& [prefix, owners] : ownerPrefixTable()) {
    if (!bundleID->starts_with(prefix)) continue;
    if (!platform_.applications) return std::nullopt;
    for (auto& app : platform_.applications->runningApplications()) {
      if (app.bundleIdentifier && std::find(owners.begin(), owners.end(), *app.bundleIdentifier) != owners.end())
        return app;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<RunningApplication> RoutingCoordinator::nearestRunningApplication(Pid pid) const {
  if (!platform_.applications) return std::nullopt;
  auto& apps = *platform_.applications;
  Pid current = pid;
  for (int lookups = 1;; ++lookups) {
    // The walk never goes above the first registered application, supported
    // or not.
    if (auto app = apps.runningApplication(current)) return app;
    auto parent = apps.parentPid(current);
    if (!parent || *parent == 0 || *parent == 1) return std::nullopt;
    if (lookups >= kAncestorLookupLimit) return std::nullopt;
    current = *parent;
  }
}

void RoutingCoordinator::updateCandidates(const std::vector<TrackedApp>& candidates,
                                          std::map<Pid, std::vector<AudioObjectID>> streams, Timestamp pollTime) {
  appStreams = std::move(streams);
  for (const auto& c : candidates) {
    audioProducingSince.try_emplace(c.pid, pollTime);
    audioLastSeen[c.pid] = pollTime;
    recentCandidates.insert_or_assign(c.pid, c);
  }

  const Timestamp cutoff = pollTime - kCandidateGracePeriod;
  for (const auto& [pid, lastSeen] : std::map<Pid, Timestamp>(audioLastSeen)) {
    if (lastSeen < cutoff) {
      audioLastSeen.erase(pid);
      audioProducingSince.erase(pid);
      recentCandidates.erase(pid);
    }
  }

  std::vector<TrackedApp> choices;
  for (const auto& entry : audioProducingSince) {
    auto it = recentCandidates.find(entry.first);
    if (it != recentCandidates.end()) choices.push_back(it->second);
  }

  std::optional<TrackedApp> choice;
  if (!choices.empty()) {
    std::size_t kept = 0;
    for (std::size_t i = 1; i < choices.size(); ++i) {
      if (candidateOrder(choices[kept], choices[i])) kept = i;
    }
    choice = choices[kept];
  }
  // Before the app is set: following a new one moves its streams at once.
  forgetStreams(choice ? std::optional<Pid>(choice->pid) : std::nullopt);
  setTrackedApp(choice);
  publishFollowed();
}

bool RoutingCoordinator::candidateOrder(const TrackedApp& a, const TrackedApp& b) {
  auto since = [this](const TrackedApp& x) {
    auto it = audioProducingSince.find(x.pid);
    return it != audioProducingSince.end() ? it->second : std::numeric_limits<Timestamp>::max();
  };
  Timestamp sa = since(a);
  Timestamp sb = since(b);
  if (sa == sb) return windowTracker().largestWindowArea(b.pid) > windowTracker().largestWindowArea(a.pid);
  return sa > sb;
}

void RoutingCoordinator::setTrackedApp(const std::optional<TrackedApp>& app) {
  const bool sameApp = (!app && !trackedApp) || (app && trackedApp && app->pid == trackedApp->pid);
  applyTrackedAppRule(app);
  // Stored even for the same app: its name or bundle id may have changed.
  trackedApp = app;
  if (app && !sameApp) {
    windowTracker().startTracking(app->pid, std::nullopt);
  } else if (!app && !sameApp) {
    windowTracker().stopTracking();
    cancelPendingSwitch();
  }
  refreshStatus();
}

}  // namespace velmora
