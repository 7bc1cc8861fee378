// The coordinator driven directly on the simulated desktop: start-up order,
// display reloads, and release, also while the sound server delivers changes.

#include <condition_variable>
#include <mutex>
#include <thread>

#include "ScenarioHarness.h"

#if VELMORA_HAVE_ASIO_QUEUES
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/queue/AsioQueue.h"
#endif

using namespace velmora;
using namespace velmora::testing;
using velmora::sim::seconds;

namespace {

TEST(CoordinatorLifecycle, FirstPollFollowsTheFirstDisplayLoadAndReloadsChangeNothingAtOnce) {
  AudioProcessMonitor::resetForTesting();
  sim::SimDesktop desktop(deskScenario());
  auto coordinator = RoutingCoordinator::create(desktop.platform());
  std::vector<std::pair<double, std::string>> reports;
  coordinator->onStatusChanged = [&](RoutingStatus, const std::string& m) {
    reports.emplace_back(desktop.scheduler().nowSeconds(), m);
  };
  coordinator->startRouting();
  desktop.scheduler().drain();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], std::make_pair(0.0, std::string("Tracking Google Chrome")));

  // The poll timer's first tick comes 500 ms after start.
  desktop.scheduler().runUntil(seconds(0.499));
  EXPECT_EQ(reports.size(), 1u);
  desktop.scheduler().runUntil(seconds(0.5));
  EXPECT_EQ(reports.size(), 2u);

  // A display change with no matching speakers rebuilds the map but reports
  // nothing until the next poll.
  desktop.scheduler().runUntil(seconds(0.6));
  desktop.screens().setScreens({PlatformScreen{PlatformValue(std::int64_t{5}), Rect{0, 0, 100, 100}, "AB TV"}});
  desktop.scheduler().runUntil(seconds(0.99));
  EXPECT_EQ(reports.size(), 2u);
  desktop.scheduler().runUntil(seconds(1.0));
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[2].second, "No display speakers detected");
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
// The sound server's side in miniature: default-device listeners are kept
// here and fired from a thread of the test's own, as libpulse fires them from
// its loop; everything else is the simulated audio.
class ServerThreadAudio final : public AudioObjects {
 public:
  explicit ServerThreadAudio(std::shared_ptr<AudioObjects> inner) : inner_(std::move(inner)) {}

  OSStatus getPropertyDataSize(AudioObjectID o, const AudioObjectPropertyAddress& a, std::uint32_t& size) override {
    return inner_->getPropertyDataSize(o, a, size);
  }
  OSStatus getPropertyData(AudioObjectID o, const AudioObjectPropertyAddress& a, std::uint32_t& size,
                           void* data) override {
    return inner_->getPropertyData(o, a, size, data);
  }
  OSStatus getPropertyString(AudioObjectID o, const AudioObjectPropertyAddress& a, std::uint32_t& size,
                             AudioStringRef& out) override {
    return inner_->getPropertyString(o, a, size, out);
  }
  OSStatus setPropertyData(AudioObjectID o, const AudioObjectPropertyAddress& a, std::uint32_t size,
                           const void* data) override {
    return inner_->setPropertyData(o, a, size, data);
  }
  OSStatus addPropertyListenerBlock(AudioObjectID o, const AudioObjectPropertyAddress& a,
                                    std::shared_ptr<SerialQueue> queue,
                                    AudioObjectPropertyListenerBlock block) override {
    if (a.mSelector != kAudioHardwarePropertyDefaultOutputDevice)
      return inner_->addPropertyListenerBlock(o, a, std::move(queue), std::move(block));
    std::lock_guard lock(mutex_);
    listeners_.emplace_back(std::move(queue), std::move(block));
    cv_.notify_all();
    return kAudioHardwareNoError;
  }

  bool waitForListener() {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return !listeners_.empty(); });
  }

  // One default-device change, delivered the way the Pulse model delivers it.
  void fire() {
    std::vector<std::pair<std::shared_ptr<SerialQueue>, AudioObjectPropertyListenerBlock>> listeners;
    {
      std::lock_guard lock(mutex_);
      listeners = listeners_;
    }
    const AudioObjectPropertyAddress address{kAudioHardwarePropertyDefaultOutputDevice, kAudioObjectPropertyScopeGlobal,
                                             kAudioObjectPropertyElementMain};
    for (auto& [queue, block] : listeners) {
      if (queue) {
        queue->async([block, address] { block(1, &address); });
      } else {
        block(1, &address);
      }
    }
  }

 private:
  std::shared_ptr<AudioObjects> inner_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::pair<std::shared_ptr<SerialQueue>, AudioObjectPropertyListenerBlock>> listeners_;
};

thread_local bool tOnServerThread = false;

// Lets the test act at the moment the server thread hands work to a queue.
struct Gate {
  std::mutex m;
  std::condition_variable cv;
  bool armed = true;
  bool reached = false;
  bool released = false;

  void passFromServerThread() {
    std::unique_lock lock(m);
    if (!tOnServerThread || !armed) return;
    armed = false;
    reached = true;
    cv.notify_all();
    cv.wait(lock, [&] { return released; });
  }
};

class GatedQueue final : public SerialQueue {
 public:
  GatedQueue(std::shared_ptr<SerialQueue> inner, std::shared_ptr<Gate> gate)
      : inner_(std::move(inner)), gate_(std::move(gate)) {}
  const std::string& label() const override { return inner_->label(); }
  void async(std::function<void()> block) override {
    gate_->passFromServerThread();
    inner_->async(std::move(block));
  }
  std::shared_ptr<WorkItem> asyncAfter(Duration delay, std::function<void()> block) override {
    return inner_->asyncAfter(delay, std::move(block));
  }
  std::shared_ptr<RepeatingTimer> makeTimer(Duration first, Duration interval, Duration leeway,
                                            std::function<void()> handler) override {
    return inner_->makeTimer(first, interval, leeway, std::move(handler));
  }

 private:
  std::shared_ptr<SerialQueue> inner_;
  std::shared_ptr<Gate> gate_;
};

// Its destructor runs when the coordinator's is done with its platform.
class ReportingClock final : public Clock {
 public:
  explicit ReportingClock(std::function<void(bool onServerThread)> onDestroyed)
      : onDestroyed_(std::move(onDestroyed)) {}
  ~ReportingClock() override { onDestroyed_(tOnServerThread); }
  Timestamp now() const override {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  }
  double wallTime() const override {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  }

 private:
  std::function<void(bool)> onDestroyed_;
};

// The coordinator's last reference goes while the sound server's thread is
// delivering a default-device change: the coordinator must still be torn down
// elsewhere, since tearing down the sound server's client from its own loop
// deadlocks or crashes.
TEST(CoordinatorLifecycle, ReleasedWhileDefaultChangesArriveIsNeverDestroyedOnTheServerThread) {
  AudioProcessMonitor::resetForTesting();
  sim::SimDesktop desktop(deskScenario());
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    auto audio = std::make_shared<ServerThreadAudio>(desktop.platform().audio);
    auto gate = std::make_shared<Gate>();
    std::mutex m;
    std::condition_variable cv;
    int destroyed = 0;
    bool destroyedOnServer = false;

    Platform platform = desktop.platform();
    platform.audio = audio;
    platform.mainQueue = linuxos::makeAsioQueue("main");
    platform.makeSerialQueue = [gate](const std::string& label) {
      return std::make_shared<GatedQueue>(linuxos::makeAsioQueue(label), gate);
    };
    platform.clock = std::make_shared<ReportingClock>([&](bool onServer) {
      std::lock_guard lock(m);
      ++destroyed;
      destroyedOnServer = destroyedOnServer || onServer;
      cv.notify_all();
    });
    auto coordinator = RoutingCoordinator::create(std::move(platform));
    coordinator->startRouting();
    ASSERT_TRUE(audio->waitForListener());

    std::thread server([&] {
      tOnServerThread = true;
      for (int i = 0; i < 50; ++i)
        audio->fire();
    });
    {
      std::unique_lock lock(gate->m);
      ASSERT_TRUE(gate->cv.wait_for(lock, std::chrono::seconds(10), [&] { return gate->reached; }));
    }
    coordinator.reset();
    {
      std::lock_guard lock(gate->m);
      gate->released = true;
      gate->cv.notify_all();
    }
    server.join();
    {
      std::unique_lock lock(m);
      ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return destroyed == 1; }));
      EXPECT_FALSE(destroyedOnServer);
    }
    audio.reset();
  }
}
#endif

}  // namespace
