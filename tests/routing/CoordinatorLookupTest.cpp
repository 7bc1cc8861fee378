// The lookup steps on real threads: with a lookup queue, no read of screens,
// audio devices or processes runs on the main queue, so a slow /proc or
// display server cannot freeze the tray.

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "audio/AudioProcessMonitor.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/queue/AsioQueue.h"
#include "platform/sim/SimDesktop.h"
#include "routing/RoutingCoordinator.h"

using namespace velmora;

namespace {

// Notes the thread of every call it passes on.
struct ThreadLog {
  std::mutex m;
  std::set<std::thread::id> screens;
  std::set<std::thread::id> applications;
};

class LoggingScreens final : public ScreensSource {
 public:
  LoggingScreens(std::shared_ptr<ScreensSource> inner, ThreadLog& log) : inner_(std::move(inner)), log_(log) {}
  std::vector<PlatformScreen> screens() override {
    note();
    return inner_->screens();
  }
  void observeConfigurationChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) override {
    inner_->observeConfigurationChanges(std::move(queue), std::move(handler));
  }

 private:
  void note() {
    std::lock_guard lock(log_.m);
    log_.screens.insert(std::this_thread::get_id());
  }
  std::shared_ptr<ScreensSource> inner_;
  ThreadLog& log_;
};

class LoggingApplications final : public Applications {
 public:
  LoggingApplications(std::shared_ptr<Applications> inner, ThreadLog& log) : inner_(std::move(inner)), log_(log) {}
  std::optional<RunningApplication> runningApplication(Pid pid) override {
    note();
    return inner_->runningApplication(pid);
  }
  std::vector<RunningApplication> runningApplications() override {
    note();
    return inner_->runningApplications();
  }
  std::optional<Pid> parentPid(Pid pid) override {
    note();
    return inner_->parentPid(pid);
  }

 private:
  void note() {
    std::lock_guard lock(log_.m);
    log_.applications.insert(std::this_thread::get_id());
  }
  std::shared_ptr<Applications> inner_;
  ThreadLog& log_;
};

TEST(CoordinatorLookups, ProcessLookupsAndDisplayReloadsStayOffTheMainQueue) {
  AudioProcessMonitor::resetForTesting();
  auto parsed = sim::parseScenario(R"j({
    "displays": [ {"id": 1, "name": "Aster U27 (HDMI)", "frame": [0, 0, 1920, 1080]},
                  {"id": 2, "name": "Borealis 4K", "frame": [1920, 0, 3840, 2160]} ],
    "devices": [ {"id": 73, "name": "Aster U27"}, {"id": 80, "name": "Borealis 4K Speakers"} ],
    "defaultDevice": 73,
    "apps": [ {"pid": 500, "bundleID": "com.google.Chrome", "name": "Google Chrome"} ],
    "windows": [ {"id": "w", "pid": 500, "bounds": [100, 100, 800, 600]} ],
    "streams": [ {"id": 900, "pid": 500, "running": true} ],
    "until": 0 })j");
  ASSERT_FALSE(parsed.error.has_value());
  sim::SimDesktop desktop(*parsed.scenario);
  ThreadLog log;
  Platform platform = desktop.platform();
  platform.screens = std::make_shared<LoggingScreens>(platform.screens, log);
  platform.applications = std::make_shared<LoggingApplications>(platform.applications, log);
  platform.mainQueue = linuxos::makeAsioQueue("main");
  platform.lookupQueue = linuxos::makeAsioQueue("lookups");
  platform.makeSerialQueue = [](const std::string& label) { return linuxos::makeAsioQueue(label); };
  platform.clock = linuxos::makeSystemClock();

  std::mutex m;
  std::condition_variable cv;
  std::vector<std::string> messages;
  std::thread::id mainThread;
  auto coordinator = RoutingCoordinator::create(platform);
  coordinator->onStatusChanged = [&](RoutingStatus, const std::string& message) {
    std::lock_guard lock(m);
    mainThread = std::this_thread::get_id();
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
  // A display change reloads the displays: also off the main queue.
  desktop.screens().setScreens({PlatformScreen{PlatformValue(std::int64_t{5}), Rect{0, 0, 100, 100}, "AB TV"}});
  ASSERT_TRUE(waitFor("No display speakers detected"));
  coordinator.reset();

  std::lock_guard lock(log.m);
  EXPECT_FALSE(log.screens.empty());
  EXPECT_FALSE(log.applications.empty());
  EXPECT_FALSE(log.screens.contains(mainThread)) << "a display reload ran on the main queue";
  EXPECT_FALSE(log.applications.contains(mainThread)) << "a process lookup ran on the main queue";
}

}  // namespace
