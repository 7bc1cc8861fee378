#include "platform/SpeakerChoices.h"

namespace velmora {

SpeakerChoices::SpeakerChoices(std::vector<SpeakerBinding> bindings,
                               std::function<void(const std::vector<SpeakerBinding>&)> store)
    : bindings_(std::move(bindings)), store_(std::move(store)) {}

std::vector<SpeakerBinding> SpeakerChoices::bindings() const {
  std::lock_guard lock(mutex_);
  return bindings_;
}

void SpeakerChoices::setBindings(std::vector<SpeakerBinding> bindings) {
  {
    std::lock_guard lock(mutex_);
    if (bindings == bindings_) return;
    bindings_ = std::move(bindings);
    if (store_) store_(bindings_);
  }
  // Outside the lock: a handler reads the bindings again.
  observers_.notify();
}

void SpeakerChoices::observeChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) {
  observers_.add(std::move(queue), std::move(handler));
}

}  // namespace velmora
