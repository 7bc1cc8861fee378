#pragma once

// Follows one process and reports its frontmost sizeable window four times a
// second on the callback queue. Reports every poll; judging is the owner's job.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Queue.h"
#include "platform/Types.h"
#include "platform/Windows.h"

namespace velmora {

class WindowTracker : public std::enable_shared_from_this<WindowTracker> {
 public:
  static constexpr Duration kPollInterval = std::chrono::milliseconds(250);
  // A side of exactly this many points disqualifies a window.
  static constexpr double kMinimumSide = 50.0;

  // Use make_shared: the poll timer holds the tracker weakly.
  WindowTracker(std::shared_ptr<SerialQueue> callbackQueue, std::shared_ptr<WindowSource> windows);
  ~WindowTracker();

  std::function<void(std::optional<Rect>)> onWindowPositionChanged;
  Pid trackedPID = 0;
  std::optional<std::string> nowPlayingTitle;
  std::shared_ptr<RepeatingTimer> pollTimer;
  std::shared_ptr<SerialQueue> callbackQueue;

  void startTracking(Pid pid, std::optional<std::string> title);
  void stopTracking();

  std::optional<Rect> frontWindowRect(Pid pid) const;
  double largestWindowArea(Pid pid) const;

 private:
  std::shared_ptr<WindowSource> windows_;
};

}  // namespace velmora
