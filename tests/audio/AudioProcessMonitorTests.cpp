#include "audio/AudioProcessMonitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/sim/SimAudio.h"
#include "platform/sim/VirtualScheduler.h"

namespace velmora {
namespace {

using sim::SimAudio;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

constexpr AudioObjectPropertySelector kRunning = kAudioProcessPropertyIsRunningOutput;

std::set<AudioObjectID> observed() {
  return AudioProcessMonitor::observedProcessObjectsSnapshot();
}

class AudioProcessMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override { AudioProcessMonitor::resetForTesting(); }
  void TearDown() override { AudioProcessMonitor::resetForTesting(); }

  std::shared_ptr<sim::VirtualScheduler> scheduler = sim::VirtualScheduler::create();
  std::shared_ptr<SerialQueue> queue = scheduler->makeQueue("co.quennet.velmora.routing");
  std::shared_ptr<SimAudio> sim = std::make_shared<SimAudio>();
  AudioHardware audio{sim};
  int changes = 0;
  std::function<void()> onChange = [this] { ++changes; };
};

TEST_F(AudioProcessMonitorTest, PlayingProcessesListsRunningOutputInListOrder) {
  EXPECT_THAT(AudioProcessMonitor::playingProcesses(audio), IsEmpty());

  ASSERT_TRUE(sim->addStream({.id = 900, .pid = 501, .bundleID = "com.google.Chrome", .running = true}));
  ASSERT_TRUE(sim->addStream({.id = 901, .pid = 502, .bundleID = "org.videolan.vlc", .running = false}));
  ASSERT_TRUE(sim->addStream({.id = 902, .pid = std::nullopt, .running = true}));  // pid unreadable
  ASSERT_TRUE(sim->addStream({.id = 903, .pid = 503, .bundleID = "", .running = true}));
  ASSERT_TRUE(sim->addStream({.id = 904, .pid = 501, .running = true}));  // same pid, second object
  EXPECT_THAT(AudioProcessMonitor::playingProcesses(audio),
              ElementsAre(PlayingProcess{501, "com.google.Chrome"}, PlayingProcess{503, std::nullopt},
                          PlayingProcess{501, std::nullopt}));
  EXPECT_THAT(AudioProcessMonitor::playingStreams(audio),
              ElementsAre(PlayingStream{900, {501, "com.google.Chrome"}}, PlayingStream{903, {503, std::nullopt}},
                          PlayingStream{904, {501, std::nullopt}}));

  sim->fail(SimAudio::Operation::processObjects);
  EXPECT_THAT(AudioProcessMonitor::playingProcesses(audio), IsEmpty());
  sim->fail(SimAudio::Operation::processPID);
  EXPECT_THAT(AudioProcessMonitor::playingProcesses(audio),
              ElementsAre(PlayingProcess{503, std::nullopt}, PlayingProcess{501, std::nullopt}));
}

TEST_F(AudioProcessMonitorTest, RunningOutputChangeNotifiesOnTheQueue) {
  ASSERT_TRUE(sim->addDevice({.id = 73}));
  ASSERT_TRUE(sim->addStream({.id = 900, .pid = 501, .bundleID = "com.google.Chrome"}));
  ASSERT_TRUE(sim->addStream({.id = 901, .pid = 502}));
  int moves = 0;
  ASSERT_TRUE(AudioProcessMonitor::start(audio, queue, onChange, [&] { ++moves; }));
  EXPECT_EQ(sim->listenerCount(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList), 1u);
  EXPECT_THAT(observed(), ElementsAre(900, 901));
  EXPECT_EQ(sim->listenerCount(900, kRunning), 1u);
  scheduler->drain();
  EXPECT_EQ(changes, 0);  // start never notifies by itself

  ASSERT_TRUE(sim->setRunning(900, true));
  EXPECT_EQ(changes, 0);  // delivered on the queue, not at once
  scheduler->drain();
  EXPECT_EQ(changes, 1);
  EXPECT_THAT(AudioProcessMonitor::playingProcesses(audio), ElementsAre(PlayingProcess{501, "com.google.Chrome"}));

  // A move is told apart, on the same queue.
  ASSERT_TRUE(sim->userMoveStream(901, 73));
  EXPECT_EQ(moves, 0);
  scheduler->drain();
  EXPECT_EQ(moves, 1);
  EXPECT_EQ(changes, 1);
}

TEST_F(AudioProcessMonitorTest, ListChangeResynchronisesBeforeNotifying) {
  ASSERT_TRUE(sim->addStream({.id = 900, .pid = 501}));
  ASSERT_TRUE(AudioProcessMonitor::start(audio, queue, [&] {
    ++changes;
    // The new object already carries its listener when the callback runs.
    EXPECT_THAT(observed(), ElementsAre(900, 901));
    EXPECT_EQ(sim->listenerCount(901, kRunning), 1u);
  }));

  ASSERT_TRUE(sim->addStream({.id = 901, .pid = 502}));
  scheduler->drain();
  EXPECT_EQ(changes, 1);

  // A running-output change of the new object is reported.
  ASSERT_TRUE(sim->setRunning(901, true));
  scheduler->drain();
  EXPECT_EQ(changes, 2);
}

// Each process-list change resynchronises: vanished objects are forgotten,
// returning ones observed again, and what failed is registered again.
TEST_F(AudioProcessMonitorTest, ResynchronisationForgetsObservesAgainAndRetries) {
  ASSERT_TRUE(sim->addStream({.id = 900, .pid = 501}));
  sim->failListenerRegistrations(kRunning, 1);
  ASSERT_TRUE(AudioProcessMonitor::start(audio, queue, onChange));
  EXPECT_THAT(observed(), IsEmpty());
  EXPECT_EQ(sim->listenerCount(900, kRunning), 0u);

  ASSERT_TRUE(sim->addStream({.id = 901, .pid = 502}));
  scheduler->drain();
  EXPECT_THAT(observed(), ElementsAre(900, 901));
  EXPECT_EQ(sim->listenerCount(900, kRunning), 1u);

  ASSERT_TRUE(sim->removeStream(900));
  scheduler->drain();
  EXPECT_THAT(observed(), ElementsAre(901));
  EXPECT_EQ(sim->listenerCount(901, kRunning), 1u);  // not registered twice
  ASSERT_TRUE(sim->addStream({.id = 900, .pid = 501}));
  scheduler->drain();
  EXPECT_THAT(observed(), ElementsAre(900, 901));
  EXPECT_EQ(sim->listenerCount(900, kRunning), 1u);
  EXPECT_EQ(changes, 3);

  // A failed list read empties the set, and still notifies.
  sim->fail(SimAudio::Operation::processObjects);
  ASSERT_TRUE(sim->addStream({.id = 902, .pid = 503}));
  scheduler->drain();
  EXPECT_THAT(observed(), IsEmpty());
  EXPECT_EQ(changes, 4);
  ASSERT_TRUE(sim->removeStream(902));
  scheduler->drain();
  EXPECT_THAT(observed(), ElementsAre(900, 901));
  // The earlier listener is still there, so 900 now reports each change twice.
  EXPECT_EQ(sim->listenerCount(900, kRunning), 2u);
  ASSERT_TRUE(sim->setRunning(900, true));
  scheduler->drain();
  EXPECT_EQ(changes, 7);
}

TEST_F(AudioProcessMonitorTest, StartWithoutListListenerStillObservesPresentObjects) {
  ASSERT_TRUE(sim->addStream({.id = 900, .pid = 501}));
  sim->failListenerRegistrations(kAudioHardwarePropertyProcessObjectList, 1);
  EXPECT_FALSE(AudioProcessMonitor::start(audio, queue, onChange));
  EXPECT_THAT(observed(), ElementsAre(900));

  ASSERT_TRUE(sim->addStream({.id = 901, .pid = 502}));
  scheduler->drain();
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(sim->listenerCount(901, kRunning), 0u);
}

TEST_F(AudioProcessMonitorTest, ListenerBlocksDoNotKeepTheBackEndAlive) {
  std::weak_ptr<SimAudio> weakSim = sim;
  ASSERT_TRUE(sim->addStream({.id = 900, .pid = 501}));
  ASSERT_TRUE(AudioProcessMonitor::start(audio, queue, onChange));
  ASSERT_TRUE(sim->addStream({.id = 901, .pid = 502}));  // a resync is now queued

  audio = AudioHardware();
  sim.reset();
  EXPECT_TRUE(weakSim.expired());
  scheduler->drain();  // the queued block finds the back end gone and does nothing
  EXPECT_EQ(changes, 0);
}

// Resynchronisations (from process-list changes delivered at once on the
// changing thread) race with readers of the playing processes and with
// running-output changes. Run under ThreadSanitizer.
TEST_F(AudioProcessMonitorTest, ConcurrentResyncAndReadsAreSafe) {
  std::atomic<int> notified{0};
  ASSERT_TRUE(AudioProcessMonitor::start(audio, nullptr, [&] { notified.fetch_add(1, std::memory_order_relaxed); }));

  constexpr int kRounds = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        const AudioObjectID id = 1000 + static_cast<AudioObjectID>(t * kRounds + i);
        sim->addStream({.id = id, .pid = static_cast<Pid>(id), .running = true});
        sim->setRunning(id, false);
        if (i % 2 == 0) sim->removeStream(id);
      }
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      for (const auto& p : AudioProcessMonitor::playingProcesses(audio))
        EXPECT_GE(p.pid, 1000);
      (void)observed();
    }
  });
  for (auto& thread : threads)
    thread.join();

  // Concurrent resyncs may apply a stale list last; once things are quiet,
  // the next one brings the set in line with what is present.
  ASSERT_TRUE(sim->addStream({.id = 999, .pid = 999}));
  const auto present = audio.processObjects();
  EXPECT_EQ(observed(), std::set<AudioObjectID>(present.begin(), present.end()));
  for (AudioObjectID id : present)
    EXPECT_GE(sim->listenerCount(id, kRunning), 1u) << id;
  EXPECT_GT(notified.load(), 0);
}

}  // namespace
}  // namespace velmora
