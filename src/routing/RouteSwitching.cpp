// Turning the followed window into a target device, the delayed switch, and
// telling the user's own device choices apart from ours.

#include <algorithm>
#include <string>

#include "routing/RoutingCoordinator.h"
#include "routing/RoutingLog.h"

namespace velmora {

namespace {
constexpr Duration kSwitchDelay = std::chrono::milliseconds(300);
constexpr double kInternalSwitchQuietWindow = 1.0;
}  // namespace

void RoutingCoordinator::cancelPendingSwitch() {
  if (!pendingSwitch) return;
  if (pendingSwitch->work) pendingSwitch->work->cancel();
  pendingSwitch.reset();
}

void RoutingCoordinator::evaluateRoute(const std::optional<Rect>& rect) {
  lastSeenRect = rect;

  // Automatic routing only moves the output between display speakers.
  const AudioDeviceID before = audio_.defaultOutputDevice();
  if (!isDisplaySpeaker(before)) {
    cancelPendingSwitch();
    return;
  }

  // The same for the tracked app's own streams: one the user sent outside
  // the displays is left alone as headphones picked as the default are.
  if (noteFollowedStreams(before)) refreshStatus();
  if (followedExternal) {
    cancelPendingSwitch();
    return;
  }

  if (overrideAnchor && overrideCheckKeeps(rect)) return;

  if (!rect) {
    routingLog().debug("window rect=nil");
    cancelPendingSwitch();
    return;
  }

  if (routingLog().enabled(LogLevel::Debug)) {
    routingLog().debug("window rect=%s displayMap.count=%ld", {describe(*rect), static_cast<long>(displayMap.size())});
  }

  auto target = DisplayAudioMapper::deviceForWindow(screens, displayMap, *rect);
  if (!target) {
    routingLog().debug("no display crosses 50%% threshold");
    cancelPendingSwitch();
    return;
  }

  routingLog().debug("targetDevice=%u currentDevice=%u", {*target, audio_.defaultOutputDevice()});

  const AudioDeviceID current = audio_.defaultOutputDevice();
  if (*target == current) {
    cancelPendingSwitch();
    moveFollowedStreams(current);
    return;
  }

  if (pendingSwitch) {
    // The delay counts from the first report that asked for this target.
    if (pendingSwitch->deviceID == *target) return;
    if (pendingSwitch->work) pendingSwitch->work->cancel();
  }
  pendingSwitch.reset();

  publishStatus(RoutingStatus::tracking, "Switching to " + displayNameForDevice(*target) + "\u2026");

  std::weak_ptr<RoutingCoordinator> weak = weak_from_this();
  AudioDeviceID targetDevice = *target;
  auto work = routingQueue->asyncAfter(kSwitchDelay, [weak, targetDevice] {
    if (auto s = weak.lock()) s->performSwitch(targetDevice);
  });
  pendingSwitch = PendingSwitch{targetDevice, std::move(work)};
}

std::string RoutingCoordinator::displayNameForDevice(AudioDeviceID device) const {
  for (const auto& [display, mapped] : displayMap) {
    if (mapped != device) continue;
    for (const auto& screen : screens) {
      if (screen.displayID == display) return screen.localizedName;
    }
    return "?";
  }
  return "?";
}

void RoutingCoordinator::performSwitch(AudioDeviceID target) {
  if (!pendingSwitch || pendingSwitch->deviceID != target) return;

  const std::string name = audio_.deviceName(target).value_or("device " + std::to_string(target));
  const AudioDeviceID before = audio_.defaultOutputDevice();
  // The user may have moved the output off the displays' speakers since this
  // was scheduled, with the notice still unseen (or inside the quiet window
  // of our previous switch): never take headphones away. A default that
  // cannot be read says nothing of the kind.
  if (before != kAudioObjectUnknown && !isDisplaySpeaker(before)) {
    routingLog().info("switch target=%u dropped: the default left the display speakers", {target});
    pendingSwitch.reset();
    refreshStatus();
    return;
  }
  const OSStatus status = audio_.setDefaultOutputDevice(target);
  // Stored before any other routing work runs, so the notice our own set
  // causes is recognised as ours.
  lastInternalSwitchAt = platform_.clock->now();
  const AudioDeviceID after = audio_.defaultOutputDevice();
  lastKnownDefaultDevice = after;

  const bool ok = status == 0;
  const bool success = ok && after == target;
  routingLog().info("switch target=%u (%s) ok=%{bool}d before=%u after=%u", {target, name, ok, before, after});

  pendingSwitch.reset();
  if (success) moveFollowedStreams(target);
  publishStatus(RoutingStatus::tracking, success ? "\u2192 " + name : std::string("Switch failed"));
}

bool RoutingCoordinator::withinOwnSwitchQuietWindow() const {
  return lastInternalSwitchAt && platform_.clock->now() - *lastInternalSwitchAt < kInternalSwitchQuietWindow;
}

void RoutingCoordinator::defaultOutputDidChange() {
  if (withinOwnSwitchQuietWindow()) return;

  const AudioDeviceID newDevice = audio_.defaultOutputDevice();
  const std::optional<AudioDeviceID> previous = lastKnownDefaultDevice;
  lastKnownDefaultDevice = newDevice;

  bool fellBack = false;
  if (previous) {
    auto devices = audio_.outputDevices();
    fellBack = std::find(devices.begin(), devices.end(), *previous) == devices.end();
  }

  if (fellBack) {
    routingLog().info("default fell back from missing device %u to %u \u2014 not an override", {*previous, newDevice});
  } else if (isDisplaySpeaker(newDevice)) {
    anchorOverride();
  } else {
    routingLog().info("external output: %s", {audio_.deviceName(newDevice).value_or("?")});
  }

  cancelPendingSwitch();
  refreshStatus();
}

// The user's choice of a display's speakers, made with the tracked app on
// screen: kept until another app is tracked or its window is seen elsewhere.
void RoutingCoordinator::anchorOverride() {
  OverrideAnchor anchor;
  if (trackedApp) anchor.appPID = trackedApp->pid;
  if (lastSeenRect) anchor.screenID = DisplayAudioMapper::displayForWindow(screens, *lastSeenRect);
  overrideAnchor = anchor;
  routingLog().info("user override anchored: app=%d screen=%u",
                    {anchor.appPID ? *anchor.appPID : -1, anchor.screenID ? *anchor.screenID : 0u});
}

bool RoutingCoordinator::overrideCheckKeeps(const std::optional<Rect>& rect) {
  const OverrideAnchor anchor = *overrideAnchor;
  std::optional<DisplayID> currentDisplay;
  if (rect) currentDisplay = DisplayAudioMapper::displayForWindow(screens, *rect);
  const bool screenChanged = currentDisplay && anchor.screenID && *currentDisplay != *anchor.screenID;

  bool appChanged = false;
  if (trackedApp && anchor.appPID) {
    appChanged = trackedApp->pid != *anchor.appPID;
    if (!screenChanged && !appChanged) return true;
  } else if (!screenChanged) {
    return true;
  }

  routingLog().info("user override cleared: screenChanged=%{bool}d appChanged=%{bool}d", {screenChanged, appChanged});
  overrideAnchor.reset();
  refreshStatus();
  return false;
}

void RoutingCoordinator::applyTrackedAppRule(const std::optional<TrackedApp>& app) {
  if (overrideAnchor && app && overrideAnchor->appPID && *overrideAnchor->appPID != app->pid) {
    overrideAnchor.reset();
    routingLog().info("user override cleared: tracked app changed");
  }
}

}  // namespace velmora
