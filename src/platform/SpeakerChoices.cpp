#include "platform/SpeakerChoices.h"

#include "platform/Queue.h"

namespace velmora {

SpeakerChoices::SpeakerChoices(std::vector<SpeakerBinding> bindings,
                               std::function<void(const std::vector<SpeakerBinding>&)> store)
    : bindings_(std::move(bindings)), store_(std::move(store)) {}

std::vector<SpeakerBinding> SpeakerChoices::bindings() const {
  std::lock_guard lock(mutex_);
  return bindings_;
}

void SpeakerChoices::setBindings(std::vector<SpeakerBinding> bindings) {
  std::vector<Observer> observers;
  {
    std::lock_guard lock(mutex_);
    if (bindings == bindings_) return;
    bindings_ = std::move(bindings);
    if (store_) store_(bindings_);
    observers = observers_;
  }
  // Outside the lock: a handler reads the bindings again.
  for (const Observer& observer : observers) {
    if (observer.queue) {
      observer.queue->async([handler = observer.handler] { (*handler)(); });
    } else {
      (*observer.handler)();
    }
  }
}

void SpeakerChoices::observeChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) {
  if (!handler) return;
  std::lock_guard lock(mutex_);
  observers_.push_back({std::move(queue), std::make_shared<const std::function<void()>>(std::move(handler))});
}

}  // namespace velmora
