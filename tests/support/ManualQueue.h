#pragma once

// A serial queue in manual time, for tests that decide when work runs: blocks
// run when the test moves the clock past them; timers are only kept, so a test
// can fire a handler whenever it likes, even after cancellation, as a late
// expiry already in flight would.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Queue.h"

namespace velmora::test {

class ManualQueue final : public SerialQueue {
 public:
  struct Item final : WorkItem {
    std::function<void()> block;
    bool cancelled = false;
    void cancel() override { cancelled = true; }
    bool isCancelled() const override { return cancelled; }
  };
  struct Timer final : RepeatingTimer {
    Duration first, interval, leeway;
    std::function<void()> handler;
    void cancel() override {}
  };

  const std::string& label() const override { return label_; }
  void async(std::function<void()> block) override { asyncAfter(Duration::zero(), std::move(block)); }
  std::shared_ptr<WorkItem> asyncAfter(Duration delay, std::function<void()> block) override {
    auto item = std::make_shared<Item>();
    item->block = std::move(block);
    items_.emplace(now_ + delay, item);
    return item;
  }
  std::shared_ptr<RepeatingTimer> makeTimer(Duration first, Duration interval, Duration leeway,
                                            std::function<void()> handler) override {
    auto timer = std::make_shared<Timer>();
    timer->first = first;
    timer->interval = interval;
    timer->leeway = leeway;
    timer->handler = std::move(handler);
    timers.push_back(timer);
    return timer;
  }

  void runUntil(Duration t) {
    while (!items_.empty() && items_.begin()->first <= t) {
      auto [due, item] = *items_.begin();
      items_.erase(items_.begin());
      now_ = due;
      if (!item->cancelled) item->block();
    }
    now_ = t;
  }
  // Runs what is due now, without advancing the clock.
  void drain() { runUntil(now_); }
  std::size_t pending() const { return items_.size(); }

  std::vector<std::shared_ptr<Timer>> timers;

 private:
  std::string label_ = "manual";
  Duration now_{0};
  std::multimap<Duration, std::shared_ptr<Item>> items_;
};

}  // namespace velmora::test
