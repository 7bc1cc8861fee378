#pragma once

// Turns a burst of change events (RandR notifications, sinks coming and
// going) into one display-configuration notification once things are quiet.

#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/ChangeObservers.h"
#include "platform/Queue.h"

namespace velmora::linuxos {

class ChangeCoalescer : public std::enable_shared_from_this<ChangeCoalescer> {
 public:
  static constexpr Duration kDefaultQuietPeriod = std::chrono::milliseconds(200);

  // timerQueue times the quiet period; observers are called on their own queues.
  static std::shared_ptr<ChangeCoalescer> make(std::shared_ptr<SerialQueue> timerQueue,
                                               Duration quietPeriod = kDefaultQuietPeriod);

  void observe(std::shared_ptr<SerialQueue> queue, std::function<void()> handler);

  // Thread-safe; each call pushes the notification back by the quiet period.
  void trigger();

 private:
  ChangeCoalescer(std::shared_ptr<SerialQueue> timerQueue, Duration quietPeriod);
  void fire();

  std::shared_ptr<SerialQueue> timerQueue_;
  Duration quietPeriod_;
  std::mutex mutex_;
  std::shared_ptr<WorkItem> pending_;
  ChangeObservers observers_;
};

}  // namespace velmora::linuxos
