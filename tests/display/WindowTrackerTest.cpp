#include <gtest/gtest.h>

#include <chrono>

#include "display/WindowTracker.h"
#include "platform/sim/SimWindows.h"
#include "platform/sim/VirtualScheduler.h"
#include "support/ManualQueue.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using sim::SimWindow;

// A window list with entries the simulated desktop cannot express.
class FixedWindows final : public WindowSource {
 public:
  std::optional<std::vector<WindowListEntry>> onScreenWindows() override { return entries; }
  std::optional<std::vector<WindowListEntry>> entries;
};

TEST(WindowTrackerRules, QualifyingWindowsOnly) {
  auto list = std::make_shared<FixedWindows>();
  const PlatformValue seven{std::int64_t{7}}, onscreen{true}, big{Rect{0, 0, 800, 600}};
  list->entries = std::vector<WindowListEntry>{
      {seven, std::nullopt, big},                    // no on-screen flag
      {seven, PlatformValue{std::int64_t{1}}, big},  // flag not a bool
      {seven, PlatformValue{false}, big},
      {PlatformValue{std::string("7")}, onscreen, big},  // pid as text
      {PlatformValue{std::int64_t{7} + (std::int64_t{1} << 32)}, onscreen, big},
      {seven, onscreen, PlatformValue{std::string("0 0 800 600")}},
      {seven, onscreen, PlatformValue{Rect{0, 0, 50, 400}}},
      {seven, onscreen, PlatformValue{Rect{0, 0, 400, -50}}},
  };
  WindowTracker tracker(nullptr, list);
  EXPECT_EQ(tracker.frontWindowRect(7), std::nullopt);
  EXPECT_EQ(tracker.largestWindowArea(7), 0.0);

  // A small window in front of a large one; sides are magnitudes.
  list->entries->push_back({PlatformValue{7.0}, onscreen, PlatformValue{Rect{10, 10, 51, -51}}});
  list->entries->push_back({seven, onscreen, big});
  EXPECT_EQ(tracker.frontWindowRect(7), (Rect{10, 10, 51, -51}));
  EXPECT_EQ(tracker.largestWindowArea(7), 800.0 * 600.0);
  EXPECT_EQ(tracker.frontWindowRect(8), std::nullopt);

  list->entries.reset();
  EXPECT_EQ(tracker.frontWindowRect(7), std::nullopt);
  EXPECT_EQ(tracker.largestWindowArea(7), 0.0);
}

class WindowTrackerTiming : public ::testing::Test {
 protected:
  void SetUp() override {
    windows->open(SimWindow{"w1", 500, {100, 100, 800, 600}});
    tracker->onWindowPositionChanged = [this](std::optional<Rect> rect) {
      reports.push_back({scheduler->now(), rect});
    };
  }

  struct Report {
    Duration at;
    std::optional<Rect> rect;
    friend bool operator==(const Report&, const Report&) = default;
  };

  std::shared_ptr<sim::VirtualScheduler> scheduler = sim::VirtualScheduler::create();
  std::shared_ptr<SerialQueue> queue = scheduler->makeQueue("co.quennet.velmora.routing");
  std::shared_ptr<sim::SimWindows> windows = std::make_shared<sim::SimWindows>();
  std::shared_ptr<WindowTracker> tracker = std::make_shared<WindowTracker>(queue, windows);
  std::vector<Report> reports;
};

TEST_F(WindowTrackerTiming, ReportsAtOnceThenEveryPollEvenUnchangedOrMissing) {
  const Rect w1{100, 100, 800, 600};
  scheduler->runUntil(100ms);
  tracker->startTracking(500, "Song");
  // The immediate report is synchronous.
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], (Report{100ms, w1}));

  scheduler->runUntil(600ms);
  EXPECT_EQ(reports, (std::vector<Report>{{100ms, w1}, {350ms, w1}, {600ms, w1}}));

  // A failed list read and a vanished window both report none; polling goes on.
  windows->failWindowList(1);
  scheduler->runUntil(1100ms);
  windows->close("w1");
  scheduler->runUntil(1350ms);
  EXPECT_EQ(reports.size(), 6u);
  EXPECT_EQ(reports[3], (Report{850ms, std::nullopt}));
  EXPECT_EQ(reports[4], (Report{1100ms, w1}));
  EXPECT_EQ(reports[5], (Report{1350ms, std::nullopt}));

  // Switching to another process keeps the timer and its phase.
  windows->open(SimWindow{"w2", 600, {0, 0, 300, 300}});
  reports.clear();
  scheduler->runUntil(1450ms);
  const auto* timer = tracker->pollTimer.get();
  tracker->startTracking(600, std::nullopt);
  EXPECT_EQ(tracker->pollTimer.get(), timer);
  scheduler->runUntil(1600ms);
  EXPECT_EQ(reports, (std::vector<Report>{{1450ms, Rect{0, 0, 300, 300}}, {1600ms, Rect{0, 0, 300, 300}}}));
}

TEST_F(WindowTrackerTiming, StopThenStartRestartsThePhase) {
  tracker->startTracking(500, std::nullopt);
  scheduler->runUntil(300ms);
  ASSERT_EQ(reports.size(), 2u);  // 0 and 250 ms

  tracker->stopTracking();
  EXPECT_EQ(tracker->trackedPID, 0);
  EXPECT_EQ(tracker->nowPlayingTitle, std::nullopt);
  EXPECT_EQ(tracker->pollTimer, nullptr);
  scheduler->runUntil(1000ms);
  EXPECT_EQ(reports.size(), 2u);

  reports.clear();
  tracker->startTracking(500, std::nullopt);
  scheduler->runUntil(1260ms);
  EXPECT_EQ(reports, (std::vector<Report>{{1000ms, Rect{100, 100, 800, 600}}, {1250ms, Rect{100, 100, 800, 600}}}));
}

TEST(WindowTrackerLifetime, TimerHoldsTheTrackerWeakly) {
  auto queue = std::make_shared<test::ManualQueue>();
  auto windows = std::make_shared<sim::SimWindows>(std::vector<SimWindow>{{"w1", 500, {0, 0, 800, 600}}});
  auto tracker = std::make_shared<WindowTracker>(queue, windows);
  int reports = 0;
  tracker->onWindowPositionChanged = [&reports](std::optional<Rect>) { ++reports; };
  // Process 0 starts the timer but never reports.
  tracker->startTracking(0, std::nullopt);
  ASSERT_EQ(queue->timers.size(), 1u);
  queue->timers[0]->handler();
  EXPECT_EQ(reports, 0);
  tracker->startTracking(500, std::nullopt);
  tracker->startTracking(500, std::nullopt);
  ASSERT_EQ(queue->timers.size(), 1u);
  EXPECT_EQ(reports, 2);

  queue->timers[0]->handler();
  EXPECT_EQ(reports, 3);
  std::weak_ptr<WindowTracker> weak = tracker;
  tracker.reset();
  EXPECT_TRUE(weak.expired());
  queue->timers[0]->handler();
  EXPECT_EQ(reports, 3);
}

TEST_F(WindowTrackerTiming, CallbackMayStopTheTracker) {
  int stops = 0;
  tracker->onWindowPositionChanged = [this, &stops](std::optional<Rect>) {
    ++stops;
    tracker->stopTracking();
    tracker->onWindowPositionChanged = nullptr;
  };
  tracker->startTracking(500, std::nullopt);
  scheduler->runUntil(1000ms);
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(tracker->pollTimer, nullptr);
}

}  // namespace
}  // namespace velmora
