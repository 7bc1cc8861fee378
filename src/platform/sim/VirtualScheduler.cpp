#include "platform/sim/VirtualScheduler.h"

#include <atomic>
#include <cmath>

namespace velmora::sim {

namespace {

struct CancelState {
  std::atomic<bool> cancelled{false};
};

class VirtualWorkItem final : public WorkItem {
 public:
  explicit VirtualWorkItem(std::shared_ptr<CancelState> state) : state_(std::move(state)) {}
  void cancel() override { state_->cancelled = true; }
  bool isCancelled() const override { return state_->cancelled; }

 private:
  std::shared_ptr<CancelState> state_;
};

class VirtualTimer final : public RepeatingTimer {
 public:
  explicit VirtualTimer(std::shared_ptr<CancelState> state) : state_(std::move(state)) {}
  ~VirtualTimer() override { cancel(); }
  void cancel() override { state_->cancelled = true; }

 private:
  std::shared_ptr<CancelState> state_;
};

class VirtualQueue final : public SerialQueue {
 public:
  VirtualQueue(std::weak_ptr<VirtualScheduler> scheduler, std::string label)
      : scheduler_(std::move(scheduler)), label_(std::move(label)) {}

  const std::string& label() const override { return label_; }

  void async(std::function<void()> block) override {
    if (auto s = scheduler_.lock()) s->schedule(s->now(), std::move(block));
  }

  std::shared_ptr<WorkItem> asyncAfter(Duration delay, std::function<void()> block) override {
    auto state = std::make_shared<CancelState>();
    if (auto s = scheduler_.lock()) {
      s->schedule(s->now() + std::max(delay, Duration::zero()), [state, block = std::move(block)] {
        if (!state->cancelled) block();
      });
    }
    return std::make_shared<VirtualWorkItem>(state);
  }

  std::shared_ptr<RepeatingTimer> makeTimer(Duration firstDeadline, Duration interval, Duration /*leeway*/,
                                            std::function<void()> handler) override {
    auto state = std::make_shared<CancelState>();
    if (auto s = scheduler_.lock()) {
      auto shared = std::make_shared<std::function<void()>>(std::move(handler));
      armTimer(s, s->now() + std::max(firstDeadline, Duration::zero()), std::max(interval, Duration(1)), state, shared);
    }
    return std::make_shared<VirtualTimer>(state);
  }

 private:
  static void armTimer(const std::shared_ptr<VirtualScheduler>& s, Duration due, Duration interval,
                       std::shared_ptr<CancelState> state, std::shared_ptr<std::function<void()>> handler) {
    std::weak_ptr<VirtualScheduler> weak = s;
    s->schedule(due, [weak, due, interval, state, handler] {
      if (state->cancelled) return;
      // Re-arm first so the next expiry keeps its phase whatever the handler does.
      if (auto sched = weak.lock()) armTimer(sched, due + interval, interval, state, handler);
      (*handler)();
    });
  }

  std::weak_ptr<VirtualScheduler> scheduler_;
  std::string label_;
};

class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(std::weak_ptr<VirtualScheduler> s) : scheduler_(std::move(s)) {}
  Timestamp now() const override {
    auto s = scheduler_.lock();
    return s ? s->nowSeconds() : 0.0;
  }
  double wallTime() const override {
    auto s = scheduler_.lock();
    return s ? s->wallSeconds() : 0.0;
  }

 private:
  std::weak_ptr<VirtualScheduler> scheduler_;
};

}  // namespace

Duration seconds(double s) {
  return Duration(static_cast<Duration::rep>(std::llround(s * 1e9)));
}

std::shared_ptr<VirtualScheduler> VirtualScheduler::create() {
  return std::shared_ptr<VirtualScheduler>(new VirtualScheduler());
}

std::shared_ptr<SerialQueue> VirtualScheduler::makeQueue(const std::string& label) {
  return std::make_shared<VirtualQueue>(weak_from_this(), label);
}

SerialQueueFactory VirtualScheduler::queueFactory() {
  std::weak_ptr<VirtualScheduler> weak = weak_from_this();
  return [weak](const std::string& label) -> std::shared_ptr<SerialQueue> {
    auto s = weak.lock();
    return s ? s->makeQueue(label) : nullptr;
  };
}

std::shared_ptr<Clock> VirtualScheduler::clock() {
  return std::make_shared<VirtualClock>(weak_from_this());
}

Duration VirtualScheduler::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

double VirtualScheduler::nowSeconds() const {
  return static_cast<double>(now().count()) / 1e9;
}

double VirtualScheduler::wallSeconds() const {
  // 2026-01-01T00:00:00Z: far from the virtual origin, so a reading of one
  // clock taken for the other cannot pass unnoticed.
  constexpr double kWallStart = 1767225600.0;
  std::lock_guard lock(mutex_);
  return kWallStart + static_cast<double>((now_ + wallOffset_).count()) / 1e9;
}

void VirtualScheduler::stepWallClock(Duration delta) {
  std::lock_guard lock(mutex_);
  wallOffset_ += delta;
}

void VirtualScheduler::schedule(Duration due, std::function<void()> run) {
  std::lock_guard lock(mutex_);
  items_.push(Item{due, nextSeq_++, std::move(run)});
}

bool VirtualScheduler::popDue(Duration limit, bool inclusive, Item& out) {
  std::lock_guard lock(mutex_);
  if (items_.empty()) return false;
  const Item& top = items_.top();
  if (inclusive ? top.due > limit : top.due >= limit) return false;
  out = top;
  items_.pop();
  if (out.due > now_) now_ = out.due;
  return true;
}

void VirtualScheduler::run(Duration t, bool inclusive) {
  Item item;
  while (popDue(t, inclusive, item)) {
    ++executed_;
    item.run();
  }
  std::lock_guard lock(mutex_);
  if (t > now_) now_ = t;
}

void VirtualScheduler::runBefore(Duration t) {
  run(t, false);
}

void VirtualScheduler::runUntil(Duration t) {
  run(t, true);
}

void VirtualScheduler::runUntilSeconds(double s) {
  runUntil(seconds(s));
}

std::size_t VirtualScheduler::pendingCount() const {
  std::lock_guard lock(mutex_);
  return items_.size();
}

}  // namespace velmora::sim
