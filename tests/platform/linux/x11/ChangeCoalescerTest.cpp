#include "platform/linux/x11/ChangeCoalescer.h"

#include <gtest/gtest.h>

#include <map>

namespace velmora::linuxos {
namespace {

using namespace std::chrono_literals;

// A queue in manual time: blocks run when the test moves the clock past them.
class ManualQueue final : public SerialQueue {
 public:
  struct Item final : WorkItem {
    std::function<void()> block;
    bool cancelled = false;
    void cancel() override { cancelled = true; }
    bool isCancelled() const override { return cancelled; }
  };

  const std::string& label() const override { return label_; }
  void async(std::function<void()> block) override { asyncAfter(Duration::zero(), std::move(block)); }
  std::shared_ptr<WorkItem> asyncAfter(Duration delay, std::function<void()> block) override {
    auto item = std::make_shared<Item>();
    item->block = std::move(block);
    items_.emplace(now_ + delay, item);
    return item;
  }
  std::shared_ptr<RepeatingTimer> makeTimer(Duration, Duration, Duration, std::function<void()>) override {
    return nullptr;
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

 private:
  std::string label_ = "manual";
  Duration now_{0};
  std::multimap<Duration, std::shared_ptr<Item>> items_;
};

TEST(ChangeCoalescer, OneNoticePerBurstOnTheObserversQueue) {
  auto scheduler = std::make_shared<ManualQueue>();
  auto changes = ChangeCoalescer::make(scheduler, 200ms);
  int notices = 0;
  changes->observe(scheduler, [&] { ++notices; });

  changes->trigger();
  scheduler->runUntil(150ms);
  changes->trigger();  // RandR and the sound server in one burst
  scheduler->runUntil(300ms);
  changes->trigger();
  EXPECT_EQ(notices, 0);
  scheduler->runUntil(499ms);
  EXPECT_EQ(notices, 0);
  scheduler->runUntil(500ms);
  EXPECT_EQ(notices, 1);

  changes->trigger();
  scheduler->runUntil(2s);
  EXPECT_EQ(notices, 2);

  // A coalescer that is gone before its quiet period ends notifies no one.
  changes->trigger();
  changes.reset();
  scheduler->runUntil(5s);
  EXPECT_EQ(notices, 2);
}

}  // namespace
}  // namespace velmora::linuxos
