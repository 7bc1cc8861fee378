#include "platform/linux/common/ChangeCoalescer.h"

namespace velmora::linuxos {

std::shared_ptr<ChangeCoalescer> ChangeCoalescer::make(std::shared_ptr<SerialQueue> timerQueue, Duration quietPeriod) {
  return std::shared_ptr<ChangeCoalescer>(new ChangeCoalescer(std::move(timerQueue), quietPeriod));
}

ChangeCoalescer::ChangeCoalescer(std::shared_ptr<SerialQueue> timerQueue, Duration quietPeriod)
    : timerQueue_(std::move(timerQueue)), quietPeriod_(quietPeriod) {}

void ChangeCoalescer::observe(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) {
  if (!queue) return;
  observers_.add(std::move(queue), std::move(handler));
}

void ChangeCoalescer::trigger() {
  std::weak_ptr<ChangeCoalescer> weak = weak_from_this();
  std::shared_ptr<WorkItem> previous;
  {
    std::lock_guard lock(mutex_);
    previous = std::move(pending_);
    pending_ = timerQueue_->asyncAfter(quietPeriod_, [weak] {
      if (auto self = weak.lock()) self->fire();
    });
  }
  if (previous) previous->cancel();
}

void ChangeCoalescer::fire() {
  observers_.notify();
}

}  // namespace velmora::linuxos
