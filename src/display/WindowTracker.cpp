#include "display/WindowTracker.h"

#include <cmath>

namespace velmora {

namespace {

// The bounds of an entry that is an on-screen content window of pid.
std::optional<Rect> qualifyingBounds(const WindowListEntry& entry, Pid pid) {
  const std::optional<std::int32_t> owner = toInt32(entry.ownerPID);
  if (!owner || *owner != pid) return std::nullopt;
  const std::optional<bool> onscreen = toBool(entry.isOnscreen);
  if (!onscreen || !*onscreen) return std::nullopt;
  const std::optional<Rect> bounds = toRect(entry.bounds);
  if (!bounds) return std::nullopt;
  if (!(std::fabs(bounds->width) > WindowTracker::kMinimumSide) ||
      !(std::fabs(bounds->height) > WindowTracker::kMinimumSide))
    return std::nullopt;
  return bounds;
}

void report(WindowTracker& tracker) {
  if (tracker.trackedPID == 0) return;
  const std::optional<Rect> rect = tracker.frontWindowRect(tracker.trackedPID);
  // A copy, so the callback may replace itself or stop the tracker.
  if (auto callback = tracker.onWindowPositionChanged) callback(rect);
}

}  // namespace

WindowTracker::WindowTracker(std::shared_ptr<SerialQueue> queue, std::shared_ptr<WindowSource> windows)
    : callbackQueue(std::move(queue)), windows_(std::move(windows)) {}

WindowTracker::~WindowTracker() {
  if (pollTimer) pollTimer->cancel();
}

void WindowTracker::startTracking(Pid pid, std::optional<std::string> title) {
  trackedPID = pid;
  nowPlayingTitle = std::move(title);
  if (!pollTimer && callbackQueue) {
    std::weak_ptr<WindowTracker> weak = weak_from_this();
    pollTimer = callbackQueue->makeTimer(kPollInterval, kPollInterval, Duration::zero(), [weak] {
      if (auto self = weak.lock()) report(*self);
    });
  }
  report(*this);
}

void WindowTracker::stopTracking() {
  trackedPID = 0;
  nowPlayingTitle.reset();
  if (pollTimer) {
    pollTimer->cancel();
    pollTimer.reset();
  }
}

std::optional<Rect> WindowTracker::frontWindowRect(Pid pid) const {
  if (!windows_) return std::nullopt;
  const std::optional<std::vector<WindowListEntry>> list = windows_->onScreenWindowsOf(pid);
  if (!list) return std::nullopt;
  for (const WindowListEntry& entry : *list) {
    if (auto bounds = qualifyingBounds(entry, pid)) return bounds;
  }
  return std::nullopt;
}

double WindowTracker::largestWindowArea(Pid pid) const {
  if (!windows_) return 0;
  const std::optional<std::vector<WindowListEntry>> list = windows_->onScreenWindowsOf(pid);
  if (!list) return 0;
  double largest = 0;
  for (const WindowListEntry& entry : *list) {
    if (auto bounds = qualifyingBounds(entry, pid)) {
      const double area = std::fabs(bounds->width) * std::fabs(bounds->height);
      if (area > largest) largest = area;
    }
  }
  return largest;
}

}  // namespace velmora
