#include "platform/sim/SimScreens.h"

#include "platform/Queue.h"

namespace velmora::sim {

SimScreens::SimScreens(std::vector<PlatformScreen> screens) : screens_(std::move(screens)) {}

std::vector<PlatformScreen> SimScreens::screens() {
  std::lock_guard lock(mutex_);
  return screens_;
}

void SimScreens::observeConfigurationChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) {
  if (!handler) return;
  std::lock_guard lock(mutex_);
  observers_.push_back({std::move(queue), std::make_shared<const std::function<void()>>(std::move(handler))});
}

void SimScreens::setScreens(std::vector<PlatformScreen> screens) {
  std::vector<Observer> observers;
  {
    std::lock_guard lock(mutex_);
    screens_ = std::move(screens);
    observers = observers_;
  }
  // Outside the lock: a handler may read the screens again.
  for (const Observer& observer : observers) {
    if (observer.queue) {
      observer.queue->async([handler = observer.handler] { (*handler)(); });
    } else {
      (*observer.handler)();
    }
  }
}

}  // namespace velmora::sim
