// The core on real threads, as the Linux back end runs it: a routing queue, a
// main queue and a lookup queue, each an asio thread of its own, against the
// simulated devices and windows. No read of screens, audio devices or
// processes runs on the main queue, so a slow /proc or display server cannot
// freeze the tray.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "ScenarioHarness.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/queue/AsioQueue.h"

using namespace velmora;
using namespace velmora::testing;

namespace {

// The simulated desktop on real threads: the main queue and each queue the
// coordinator makes run an asio thread of their own, on the system clock.
Platform onRealThreads(Platform platform) {
  platform.mainQueue = linuxos::makeAsioQueue("main");
  platform.makeSerialQueue = [](const std::string& label) { return linuxos::makeAsioQueue(label); };
  platform.clock = linuxos::makeSystemClock();
  return platform;
}

// The coordinator's status messages, for the test's thread to wait on. It
// must outlive the coordinator it follows.
class StatusMessages {
 public:
  void follow(RoutingCoordinator& coordinator) {
    coordinator.onStatusChanged = [this](RoutingStatus, const std::string& message) {
      std::lock_guard lock(mutex_);
      thread_ = std::this_thread::get_id();
      messages_.push_back(message);
      changed_.notify_all();
    };
  }

  // False when the message has not come within ten seconds.
  bool waitFor(const std::string& message) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return std::find(messages_.begin(), messages_.end(), message) != messages_.end(); });
  }

  // The thread the last message came on.
  std::thread::id thread() {
    std::lock_guard lock(mutex_);
    return thread_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> messages_;
  std::thread::id thread_;
};

// Notes the thread of every call it passes on.
struct ThreadLog {
  std::mutex m;
  std::set<std::thread::id> screens;
  std::set<std::thread::id> applications;

  void note(std::set<std::thread::id>& threads) {
    std::lock_guard lock(m);
    threads.insert(std::this_thread::get_id());
  }
};

class LoggingScreens final : public ScreensSource {
 public:
  LoggingScreens(std::shared_ptr<ScreensSource> inner, ThreadLog& log) : inner_(std::move(inner)), log_(log) {}
  std::vector<PlatformScreen> screens() override {
    log_.note(log_.screens);
    return inner_->screens();
  }
  void observeConfigurationChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) override {
    inner_->observeConfigurationChanges(std::move(queue), std::move(handler));
  }

 private:
  std::shared_ptr<ScreensSource> inner_;
  ThreadLog& log_;
};

class LoggingApplications final : public Applications {
 public:
  LoggingApplications(std::shared_ptr<Applications> inner, ThreadLog& log) : inner_(std::move(inner)), log_(log) {}
  std::optional<RunningApplication> runningApplication(Pid pid) override {
    log_.note(log_.applications);
    return inner_->runningApplication(pid);
  }
  std::vector<RunningApplication> runningApplications() override {
    log_.note(log_.applications);
    return inner_->runningApplications();
  }
  std::optional<Pid> parentPid(Pid pid) override {
    log_.note(log_.applications);
    return inner_->parentPid(pid);
  }

 private:
  std::shared_ptr<Applications> inner_;
  ThreadLog& log_;
};

TEST(CoordinatorOnRealThreads, FollowsTheWindowWithLookupsOffTheMainQueue) {
  AudioProcessMonitor::resetForTesting();
  sim::SimDesktop desktop(deskScenario());
  ThreadLog log;
  Platform platform = onRealThreads(desktop.platform());
  platform.screens = std::make_shared<LoggingScreens>(platform.screens, log);
  platform.applications = std::make_shared<LoggingApplications>(platform.applications, log);
  platform.lookupQueue = linuxos::makeAsioQueue("lookups");

  StatusMessages messages;
  auto coordinator = RoutingCoordinator::create(platform);
  messages.follow(*coordinator);
  coordinator->startRouting();
  ASSERT_TRUE(messages.waitFor("Tracking Google Chrome"));
  // Changes made from this thread while the queues run.
  desktop.windows().move("w", Rect{2500, 300, 800, 600});
  ASSERT_TRUE(messages.waitFor("→ Borealis 4K Speakers"));
  EXPECT_EQ(desktop.audio().defaultDevice(), 80u);
  desktop.windows().move("w", Rect{100, 100, 800, 600});
  ASSERT_TRUE(messages.waitFor("→ Aster U27"));
  EXPECT_EQ(desktop.audio().defaultDevice(), 73u);
  // A display change reloads the displays: also off the main queue.
  desktop.screens().setScreens({PlatformScreen{PlatformValue(std::int64_t{5}), Rect{0, 0, 100, 100}, "AB TV"}});
  ASSERT_TRUE(messages.waitFor("No display speakers detected"));
  const std::thread::id mainThread = messages.thread();
  coordinator.reset();

  std::lock_guard lock(log.m);
  EXPECT_FALSE(log.screens.empty());
  EXPECT_FALSE(log.applications.empty());
  EXPECT_FALSE(log.screens.contains(mainThread)) << "a display reload ran on the main queue";
  EXPECT_FALSE(log.applications.contains(mainThread)) << "a process lookup ran on the main queue";
}

}  // namespace
