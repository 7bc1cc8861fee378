#include "platform/ChangeObservers.h"

#include "platform/Queue.h"

namespace velmora {

void ChangeObservers::add(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) {
  if (!handler) return;
  std::lock_guard lock(mutex_);
  observers_.push_back({std::move(queue), std::make_shared<const std::function<void()>>(std::move(handler))});
}

void ChangeObservers::notify() {
  std::vector<Observer> observers;
  {
    std::lock_guard lock(mutex_);
    observers = observers_;
  }
  for (const Observer& observer : observers) {
    if (observer.queue) {
      observer.queue->async([handler = observer.handler] { (*handler)(); });
    } else {
      (*observer.handler)();
    }
  }
}

}  // namespace velmora
