#define ASIO_STANDALONE
#define ASIO_NO_DEPRECATED
#include "platform/linux/queue/AsioQueue.h"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/LinuxPlatform.h"

namespace velmora::linuxos {
namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 5s;

// Waits until every block queued before it has run.
void drain(SerialQueue& queue) {
  std::promise<void> done;
  auto future = done.get_future();
  queue.async([&] { done.set_value(); });
  ASSERT_EQ(future.wait_for(kWait), std::future_status::ready);
}

// Waits until a block queued with the given delay has run.
void settle(SerialQueue& queue, Duration delay) {
  std::promise<void> done;
  auto future = done.get_future();
  queue.asyncAfter(delay, [&] { done.set_value(); });
  ASSERT_EQ(future.wait_for(kWait), std::future_status::ready);
}

TEST(AsioQueue, RunsBlocksInOrderOnOneThreadOfItsOwn) {
  auto queue = makeAsioQueue("co.quennet.velmora.test");
  EXPECT_EQ(queue->label(), "co.quennet.velmora.test");
  std::vector<int> order;
  std::vector<std::thread::id> threads;
  for (int i = 0; i < 100; ++i) {
    queue->async([&, i] {
      order.push_back(i);
      threads.push_back(std::this_thread::get_id());
    });
  }
  drain(*queue);
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i)
    EXPECT_EQ(order[i], i);
  EXPECT_NE(threads.front(), std::this_thread::get_id());
  for (auto id : threads)
    EXPECT_EQ(id, threads.front());
}

TEST(AsioQueue, CancelledDelayedWorkNeverRunsEvenOnceExpired) {
  auto queue = makeAsioQueue("test");
  std::atomic<int> ran{0};
  std::promise<void> blocked;
  std::promise<void> release;
  auto releaseFuture = release.get_future().share();
  // Hold the queue's thread so the expiry is queued behind this block.
  queue->async([&, releaseFuture] {
    blocked.set_value();
    releaseFuture.wait();
  });
  blocked.get_future().wait();
  auto item = queue->asyncAfter(0ms, [&] { ++ran; });
  auto kept = queue->asyncAfter(0ms, [&] { ran += 10; });
  // Give the zero-delay expiries the chance to be queued; the outcome must
  // not depend on whether they were.
  std::this_thread::yield();
  item->cancel();
  EXPECT_TRUE(item->isCancelled());
  EXPECT_FALSE(kept->isCancelled());
  release.set_value();

  settle(*queue, 1ms);
  drain(*queue);
  EXPECT_EQ(ran.load(), 10);
}

TEST(AsioQueue, RepeatingTimerTicksUntilCancelledOrDropped) {
  auto queue = makeAsioQueue("test");
  std::mutex mutex;
  std::vector<std::chrono::steady_clock::time_point> ticks;
  std::promise<void> fiveTicks;
  const auto start = std::chrono::steady_clock::now();
  std::shared_ptr<RepeatingTimer> timer;
  // Held while the timer is stored, so the handler never sees it half-set.
  std::unique_lock setting(mutex);
  timer = queue->makeTimer(5ms, 5ms, 1ms, [&] {
    std::lock_guard lock(mutex);
    ticks.push_back(std::chrono::steady_clock::now());
    if (ticks.size() == 5) {
      timer->cancel();
      fiveTicks.set_value();
    }
  });
  setting.unlock();
  ASSERT_EQ(fiveTicks.get_future().wait_for(kWait), std::future_status::ready);
  // Expiries queued before the cancel must not tick again.
  settle(*queue, 20ms);
  {
    std::lock_guard lock(mutex);
    ASSERT_EQ(ticks.size(), 5u);
    // Deadlines are start + n * interval, never earlier.
    for (std::size_t i = 0; i < ticks.size(); ++i)
      EXPECT_GE(ticks[i] - start, 5ms * (i + 1));
  }

  std::atomic<int> count{0};
  auto dropped = queue->makeTimer(1ms, 1ms, 0ms, [&] { ++count; });
  dropped.reset();
  std::atomic<int> once{0};
  auto zeroInterval = queue->makeTimer(0ms, 0ms, 0ms, [&] { ++once; });
  settle(*queue, 10ms);
  EXPECT_EQ(count.load(), 0);
  EXPECT_EQ(once.load(), 1) << "a zero interval fires once";
}

// A repeating timer due within a few milliseconds of another's expiry runs
// in the same wake-up: before a block the first one's handler queues.
TEST(AsioQueue, RepeatingTimersDueTogetherShareAWakeUp) {
  struct Row {
    const char* what;
    Duration gap;
    bool cancelFromFirst;
    std::vector<std::string> expected;
  };
  const std::vector<Row> rows = {
      {"3 ms apart", 3ms, false, {"first", "second", "block"}},
      {"40 ms apart", 40ms, false, {"first", "block", "second"}},
      {"cancelled by the first", 3ms, true, {"first", "block"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    // Only a round whose first expiry came on time says anything: a late
    // wake-up finds both due whatever the queue does.
    bool onTime = false;
    for (int round = 0; round < 20 && !onTime; ++round) {
      auto queue = makeAsioQueue("test");
      std::mutex mutex;
      std::vector<std::string> order;
      const auto note = [&](const char* what) {
        std::lock_guard lock(mutex);
        order.emplace_back(what);
      };
      const auto secondDue = std::chrono::steady_clock::now() + 20ms + row.gap;
      std::shared_ptr<RepeatingTimer> second;
      std::unique_lock setting(mutex);
      auto first = queue->makeTimer(20ms, 1h, 0ms, [&] {
        onTime = std::chrono::steady_clock::now() < secondDue;
        note("first");
        queue->async([&] { note("block"); });
        std::lock_guard lock(mutex);
        if (row.cancelFromFirst) second->cancel();
      });
      second = queue->makeTimer(20ms + row.gap, 1h, 0ms, [&] { note("second"); });
      setting.unlock();
      settle(*queue, 60ms + row.gap);
      std::lock_guard lock(mutex);
      if (onTime) {
        EXPECT_EQ(order, row.expected);
      }
    }
    EXPECT_TRUE(onTime) << "no round's first expiry came on time";
  }
}

TEST(AsioQueue, LastReferenceDroppedOnItsOwnThread) {
  auto queue = makeAsioQueue("test");
  auto holder = std::make_shared<std::shared_ptr<SerialQueue>>(queue);
  std::promise<void> go;
  std::promise<void> done;
  auto goFuture = go.get_future().share();
  auto doneFuture = done.get_future();
  queue->async([holder, goFuture, &done] {
    goFuture.wait();
    holder->reset();  // the last reference: the queue goes away on its own thread
    done.set_value();
  });
  queue.reset();
  go.set_value();
  ASSERT_EQ(doneFuture.wait_for(kWait), std::future_status::ready);
}

TEST(AsioQueue, DestroyedWithPendingWorkDropsIt) {
  std::atomic<int> ran{0};
  {
    auto queue = makeAsioQueue("test");
    queue->asyncAfter(1h, [&] { ++ran; });
    auto timer = queue->makeTimer(1h, 1h, 0ms, [&] { ++ran; });
    // Delays past the clock's range mean "never", not an overflow.
    queue->asyncAfter(Duration::max(), [&] { ++ran; });
    auto never = queue->makeTimer(Duration::max(), Duration::max(), Duration::max(), [&] { ++ran; });
  }
  EXPECT_EQ(ran.load(), 0);
}

TEST(AsioMainQueue, RunsOnTheCallersContext) {
  asio::io_context context;
  auto queue = makeAsioMainQueue(context, "main");
  std::vector<int> order;
  queue->async([&] { order.push_back(1); });
  auto cancelled = queue->asyncAfter(0ms, [&] { order.push_back(99); });
  cancelled->cancel();
  queue->asyncAfter(1ms, [&] { order.push_back(3); });
  queue->async([&] { order.push_back(2); });
  context.run_for(kWait);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(SystemClock, DurationsComeFromTheSteadyClockAndDatesFromTheWallClock) {
  using std::chrono::duration;
  const auto clock = makeSystemClock();
  const double steadyBefore = duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  const double wallBefore = duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  const double now = clock->now();
  const double wall = clock->wallTime();
  EXPECT_GE(now, steadyBefore);
  EXPECT_LT(now - steadyBefore, 60.0);
  EXPECT_GE(wall, wallBefore);
  EXPECT_LT(wall - wallBefore, 60.0);
  EXPECT_GE(clock->now(), now) << "never goes back";
}

}  // namespace
}  // namespace velmora::linuxos
