// The coordinator driven directly on the simulated desktop: start-up order,
// display reloads, release, and real threads.

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "audio/AudioProcessMonitor.h"
#include "platform/sim/SimDesktop.h"
#include "routing/RoutingCoordinator.h"

#if VELMORA_HAVE_ASIO_QUEUES
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/queue/AsioQueue.h"
#endif

using namespace velmora;
using velmora::sim::seconds;

namespace {

sim::Scenario deskScenario() {
  auto parsed = sim::parseScenario(R"j({
    "displays": [ {"id": 1, "name": "Aster U27 (HDMI)", "frame": [0, 0, 1920, 1080]},
                  {"id": 2, "name": "Borealis 4K", "frame": [1920, 0, 3840, 2160]} ],
    "devices": [ {"id": 73, "name": "Aster U27"}, {"id": 80, "name": "Borealis 4K Speakers"} ],
    "defaultDevice": 73,
    "apps": [ {"pid": 500, "bundleID": "com.google.Chrome", "name": "Google Chrome"} ],
    "windows": [ {"id": "w", "pid": 500, "bounds": [100, 100, 800, 600]} ],
    "streams": [ {"id": 900, "pid": 500, "running": true} ],
    "until": 0 })j");
  EXPECT_FALSE(parsed.error.has_value());
  return *parsed.scenario;
}

struct Recorder {
  std::vector<std::pair<double, std::string>> reports;
};

TEST(CoordinatorLifecycle, FirstPollFollowsTheFirstDisplayLoadAndReloadsChangeNothingAtOnce) {
  AudioProcessMonitor::resetForTesting();
  sim::SimDesktop desktop(deskScenario());
  auto coordinator = RoutingCoordinator::create(desktop.platform());
  Recorder rec;
  coordinator->onStatusChanged = [&](RoutingStatus, const std::string& m) {
    rec.reports.emplace_back(desktop.scheduler().nowSeconds(), m);
  };
  coordinator->startRouting();
  desktop.scheduler().drain();
  ASSERT_EQ(rec.reports.size(), 1u);
  EXPECT_EQ(rec.reports[0], std::make_pair(0.0, std::string("Tracking Google Chrome")));

  // The poll timer's first tick comes 500 ms after start.
  desktop.scheduler().runUntil(seconds(0.499));
  EXPECT_EQ(rec.reports.size(), 1u);
  desktop.scheduler().runUntil(seconds(0.5));
  EXPECT_EQ(rec.reports.size(), 2u);

  // A display change with no matching speakers rebuilds the map but reports
  // nothing until the next poll.
  desktop.scheduler().runUntil(seconds(0.6));
  desktop.screens().setScreens({PlatformScreen{PlatformValue(std::int64_t{5}), Rect{0, 0, 100, 100}, "AB TV"}});
  desktop.scheduler().runUntil(seconds(0.99));
  EXPECT_EQ(rec.reports.size(), 2u);
  desktop.scheduler().runUntil(seconds(1.0));
  ASSERT_EQ(rec.reports.size(), 3u);
  EXPECT_EQ(rec.reports[2].second, "No display speakers detected");
  // Nothing here ever touched the default device.
  EXPECT_EQ(desktop.audio().defaultDevice(), 73u);
}

TEST(CoordinatorLifecycle, ReleasedCoordinatorsLateCallbacksDoNothing) {
  AudioProcessMonitor::resetForTesting();
  sim::SimDesktop desktop(deskScenario());
  int reports = 0;
  {
    auto coordinator = RoutingCoordinator::create(desktop.platform());
    coordinator->onStatusChanged = [&](RoutingStatus, const std::string&) { ++reports; };
    coordinator->startRouting();
    desktop.scheduler().runUntil(seconds(1.0));
    // A switch is pending when the last reference goes.
    desktop.windows().move("w", Rect{2500, 300, 800, 600});
    desktop.scheduler().runUntil(seconds(1.25));
  }
  int before = reports;
  desktop.audio().userSetDefault(80);
  desktop.audio().setRunning(900, false);
  desktop.screens().setScreens({});
  desktop.scheduler().runUntil(seconds(5.0));
  EXPECT_LE(reports - before, 2) << "only reports already queued may still arrive";
  EXPECT_EQ(desktop.audio().defaultDevice(), 80u) << "the pending switch must not run";
}

#if VELMORA_HAVE_ASIO_QUEUES
// The same core on real threads: a routing queue and a main queue, each an
// asio thread of its own, against the simulated devices and windows.
TEST(CoordinatorLifecycle, FollowsTheWindowOnRealThreads) {
  AudioProcessMonitor::resetForTesting();
  sim::SimDesktop desktop(deskScenario());
  Platform platform = desktop.platform();
  platform.mainQueue = linuxos::makeAsioQueue("main");
  platform.makeSerialQueue = [](const std::string& label) { return linuxos::makeAsioQueue(label); };
  platform.clock = linuxos::makeWallClock();

  std::mutex m;
  std::condition_variable cv;
  std::vector<std::string> messages;
  auto coordinator = RoutingCoordinator::create(platform);
  coordinator->onStatusChanged = [&](RoutingStatus, const std::string& message) {
    std::lock_guard lock(m);
    messages.push_back(message);
    cv.notify_all();
  };
  auto waitFor = [&](const std::string& message) {
    std::unique_lock lock(m);
    return cv.wait_for(lock, std::chrono::seconds(10),
                       [&] { return std::find(messages.begin(), messages.end(), message) != messages.end(); });
  };

  coordinator->startRouting();
  ASSERT_TRUE(waitFor("Tracking Google Chrome"));
  desktop.windows().move("w", Rect{2500, 300, 800, 600});
  ASSERT_TRUE(waitFor("→ Borealis 4K Speakers"));
  EXPECT_EQ(desktop.audio().defaultDevice(), 80u);

  // Changes made from this thread while both queues run.
  desktop.windows().move("w", Rect{100, 100, 800, 600});
  ASSERT_TRUE(waitFor("→ Aster U27"));
  EXPECT_EQ(desktop.audio().defaultDevice(), 73u);
  coordinator.reset();
}
#endif

}  // namespace
