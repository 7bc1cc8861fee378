#include "routing/RoutingCoordinator.h"

#include <algorithm>

#include "routing/RoutingLog.h"

namespace velmora {

namespace {
constexpr Duration kAudioPollInterval = std::chrono::milliseconds(500);
}  // namespace

const Logger& routingLog() {
  static const Logger log(kVelmoraSubsystem, "Routing");
  return log;
}

struct RoutingCoordinator::Private {};

std::shared_ptr<RoutingCoordinator> RoutingCoordinator::create(Platform platform) {
  return std::make_shared<RoutingCoordinator>(Private{}, std::move(platform));
}

RoutingCoordinator::RoutingCoordinator(Private, Platform platform)
    : platform_(std::move(platform)),
      audio_(platform_.audio),
      followedApps_(supportedMediaApps()),
      lookupQueue_(platform_.lookupQueue ? platform_.lookupQueue : platform_.mainQueue),
      routingQueue(platform_.makeSerialQueue(kRoutingQueueLabel)),
      mapper(audio_, platform_.screens) {
  if (platform_.applications) {
    for (auto& id : platform_.applications->additionalMediaApps())
      followedApps_.insert(id);
  }
}

RoutingCoordinator::~RoutingCoordinator() = default;

WindowTracker& RoutingCoordinator::windowTracker() {
  if (!windowTracker_) windowTracker_ = std::make_shared<WindowTracker>(routingQueue, platform_.windows);
  return *windowTracker_;
}

void RoutingCoordinator::startRouting() {
  std::weak_ptr<RoutingCoordinator> weak = weak_from_this();
  routingQueue->async([weak] {
    auto self = weak.lock();
    if (!self) return;
    AudioDeviceID current = self->audio_.defaultOutputDevice();
    self->lastKnownDefaultDevice = current != 0 ? std::optional<AudioDeviceID>(current) : std::nullopt;
    self->windowTracker().onWindowPositionChanged = [weak](std::optional<Rect> rect) {
      if (auto s = weak.lock()) s->evaluateRoute(rect);
    };
    self->installObservers();
  });
  reloadDisplays([weak] {
    auto self = weak.lock();
    if (!self) return;
    self->routingQueue->async([weak] {
      if (auto s = weak.lock()) s->pollAudioProducers();
    });
  });
}

void RoutingCoordinator::installObservers() {
  std::weak_ptr<RoutingCoordinator> weak = weak_from_this();

  if (platform_.screens) {
    platform_.screens->observeConfigurationChanges(platform_.mainQueue, [weak] {
      if (auto s = weak.lock()) s->reloadDisplays(nullptr);
    });
  }

  // The result is ignored on purpose: the poll timer below keeps us going
  // even without the monitor's listeners.
  AudioProcessMonitor::start(
      audio_, routingQueue,
      [weak] {
        if (auto s = weak.lock()) s->pollAudioProducers();
      },
      [weak] {
        if (auto s = weak.lock()) s->followedStreamMoved();
      });

  // Delivered on the routing queue: the back end's thread never holds a
  // reference to us, so our last one can never be dropped there (the sound
  // server's client must not be torn down from its own loop).
  audio_.addDefaultOutputDeviceListener(routingQueue, [weak] {
    if (auto s = weak.lock()) s->defaultOutputDidChange();
  });

  audioPollingTimer = routingQueue->makeTimer(kAudioPollInterval, kAudioPollInterval, Duration::zero(), [weak] {
    if (auto s = weak.lock()) s->pollAudioProducers();
  });
}

void RoutingCoordinator::reloadDisplays(std::function<void()> completion) {
  std::weak_ptr<RoutingCoordinator> weak = weak_from_this();
  lookupQueue_->async([weak, completion = std::move(completion)] {
    auto self = weak.lock();
    if (!self) return;
    auto newScreens = self->mapper.currentScreens();
    auto newMap = self->mapper.buildDisplayMap();
    self->routingQueue->async(
        [self, newScreens = std::move(newScreens), newMap = std::move(newMap), completion]() mutable {
          self->screens = std::move(newScreens);
          self->displayMap = std::move(newMap);
          if (completion) completion();
        });
  });
}

bool RoutingCoordinator::isDisplaySpeaker(AudioDeviceID device) const {
  return std::any_of(displayMap.begin(), displayMap.end(), [device](const auto& e) { return e.second == device; });
}

void RoutingCoordinator::refreshStatus() {
  if (displayMap.empty()) {
    publishStatus(RoutingStatus::idle, "No display speakers detected");
    return;
  }
  const auto external = [this](AudioDeviceID device) {
    publishStatus(RoutingStatus::external, "External output (" + audio_.deviceName(device).value_or("?") + ")");
  };
  AudioDeviceID current = audio_.defaultOutputDevice();
  if (!isDisplaySpeaker(current)) {
    external(current);
  } else if (auto device = followedExternalDevice()) {
    // The tracked app plays outside the displays, as the user chose for it.
    external(*device);
  } else if (overrideAnchor) {
    publishStatus(RoutingStatus::override, "User override");
  } else if (trackedApp) {
    publishStatus(RoutingStatus::tracking, "Tracking " + trackedApp->localizedName);
  } else {
    publishStatus(RoutingStatus::idle, "No media playing");
  }
}

void RoutingCoordinator::publishStatus(RoutingStatus status, std::string message) {
  auto self = shared_from_this();
  platform_.mainQueue->async([self, status, message = std::move(message)] {
    if (self->onStatusChanged) self->onStatusChanged(status, message);
  });
}

}  // namespace velmora
