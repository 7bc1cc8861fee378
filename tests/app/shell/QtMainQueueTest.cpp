#include "app/shell/QtMainQueue.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "QtTestApp.h"

namespace velmora::app {
namespace {

using namespace std::chrono_literals;

// Runs the event loop until done() holds, with a generous cap so a broken
// queue fails the test instead of hanging it.
template <class Pred>
bool runUntil(Pred done) {
  QEventLoop loop;
  QTimer cap;
  cap.setSingleShot(true);
  QObject::connect(&cap, &QTimer::timeout, &loop, &QEventLoop::quit);
  cap.start(5000);
  while (!done() && cap.isActive())
    loop.processEvents(QEventLoop::WaitForMoreEvents);
  return done();
}

TEST(QtMainQueue, BlocksFromAnyThreadRunOnTheMainThreadInOrder) {
  auto& app = test::qtApp();
  auto queue = std::make_shared<QtMainQueue>();
  std::vector<int> seen;  // main thread only
  std::atomic<int> offThread{0};
  std::thread producer([&] {
    for (int i = 0; i < 200; ++i) {
      queue->async([&, i] {
        if (QThread::currentThread() != app.thread()) ++offThread;
        seen.push_back(i);
      });
    }
  });
  producer.join();
  ASSERT_TRUE(runUntil([&] { return seen.size() == 200; }));
  EXPECT_EQ(offThread.load(), 0);
  EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end(), std::greater_equal<>()), seen.end()) << "each once, in order";
}

// Cancelled delayed blocks never run; timers repeat until cancelled or
// dropped.
TEST(QtMainQueue, CancelledOrDroppedWorkNeverRuns) {
  test::qtApp();
  auto queue = std::make_shared<QtMainQueue>();
  std::vector<std::string> ran;
  auto cancelled = queue->asyncAfter(1ms, [&] { ran.push_back("cancelled"); });
  std::shared_ptr<WorkItem> fromThread;
  std::thread([&] { fromThread = queue->asyncAfter(2ms, [&] { ran.push_back("kept"); }); }).join();
  cancelled->cancel();
  EXPECT_TRUE(cancelled->isCancelled());
  EXPECT_FALSE(fromThread->isCancelled());
  ASSERT_TRUE(runUntil([&] { return !ran.empty(); }));

  int ticks = 0;
  auto timer = queue->makeTimer(0ms, 1ms, 0ms, [&] { ++ticks; });
  ASSERT_TRUE(runUntil([&] { return ticks >= 3; }));
  timer->cancel();
  const int atCancel = ticks;

  int dropped = 0;
  auto second = queue->makeTimer(0ms, 1ms, 0ms, [&] { ++dropped; });
  ASSERT_TRUE(runUntil([&] { return dropped >= 1; }));
  second.reset();
  const int atDrop = dropped;

  // Let several more intervals pass; nothing cancelled may run again.
  int spins = 0;
  auto witness = queue->makeTimer(1ms, 1ms, 0ms, [&] { ++spins; });
  ASSERT_TRUE(runUntil([&] { return spins >= 5; }));
  EXPECT_EQ(ticks, atCancel);
  EXPECT_EQ(dropped, atDrop);
  EXPECT_EQ(ran, std::vector<std::string>{"kept"});
}

}  // namespace
}  // namespace velmora::app
