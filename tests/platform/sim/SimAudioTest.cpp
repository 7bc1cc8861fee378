#include "platform/sim/SimAudio.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "audio/AudioHardware.h"
#include "platform/sim/VirtualScheduler.h"

namespace velmora::sim {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr AudioObjectPropertyAddress kDefaultAddress{kAudioHardwarePropertyDefaultOutputDevice,
                                                     kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};

class SimAudioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim->addDevice({.id = 73, .name = "Aster U27"}));
    ASSERT_TRUE(sim->addDevice({.id = 74, .name = "Mic", .outputs = false}));
    ASSERT_TRUE(sim->addDevice({.id = 80, .name = "Borealis 4K Speakers", .canBeDefault = false}));
    ASSERT_TRUE(sim->addDevice({.id = 90, .name = "USB Headphones"}));
    ASSERT_TRUE(sim->setInitialDefault(73));
    sim->onDefaultDeviceChanged = [this](AudioDeviceID id) { events.push_back("hook " + std::to_string(id)); };
    ASSERT_EQ(audio.addDefaultOutputDeviceListener([this] { events.push_back("listener"); }), kAudioHardwareNoError);
  }

  std::shared_ptr<SimAudio> sim = std::make_shared<SimAudio>();
  AudioHardware audio{sim};
  std::vector<std::string> events;
};

TEST_F(SimAudioTest, DefaultDeviceChangesOnlyToValidDevicesAndNotifiesOnRealChanges) {
  EXPECT_FALSE(sim->userSetDefault(80));  // cannot be the default
  EXPECT_FALSE(sim->userSetDefault(99));
  EXPECT_FALSE(sim->userSetDefault(0));
  const AudioDeviceID bad = 90;
  EXPECT_NE(sim->setPropertyData(kAudioObjectSystemObject, kDefaultAddress, 2, &bad), kAudioHardwareNoError);
  EXPECT_NE(sim->setPropertyData(kAudioObjectUnknown, kDefaultAddress, 4, &bad), kAudioHardwareNoError);
  EXPECT_EQ(sim->defaultDevice(), 73u);
  EXPECT_THAT(events, IsEmpty());

  // Setting the same device again succeeds quietly; the user picking it by
  // hand is still announced to listeners, but it is no change for the hook.
  EXPECT_EQ(audio.setDefaultOutputDevice(73), kAudioHardwareNoError);
  EXPECT_THAT(events, IsEmpty());
  EXPECT_TRUE(sim->userSetDefault(73));
  EXPECT_THAT(events, ElementsAre("listener"));
  events.clear();

  EXPECT_EQ(audio.setDefaultOutputDevice(90), kAudioHardwareNoError);
  EXPECT_TRUE(sim->userSetDefault(73));
  EXPECT_THAT(events, ElementsAre("hook 90", "listener", "hook 73", "listener"));
}

TEST_F(SimAudioTest, UnplugFallsBackToFirstUsableDevice) {
  ASSERT_TRUE(sim->removeDevice(90));  // not the default: nothing happens
  EXPECT_THAT(events, IsEmpty());

  ASSERT_TRUE(sim->addDevice({.id = 91, .name = "Dock"}));
  ASSERT_TRUE(sim->removeDevice(73));  // 74 has no outputs, 80 cannot be default
  EXPECT_EQ(sim->defaultDevice(), 91u);
  ASSERT_TRUE(sim->removeDevice(91));
  EXPECT_EQ(sim->defaultDevice(), 0u);
  EXPECT_THAT(events, ElementsAre("hook 91", "listener", "hook 0", "listener"));
  EXPECT_FALSE(sim->removeDevice(91));
}

TEST_F(SimAudioTest, StreamsFollowTheDefaultUnlessPinnedAndAMoveOntoTheDefaultUnpins) {
  sim->onStreamDeviceChanged = [this](AudioObjectID stream, AudioDeviceID from, AudioDeviceID to) {
    events.push_back(std::to_string(stream) + " " + std::to_string(from) + ">" + std::to_string(to));
  };
  ASSERT_TRUE(sim->addStream({.id = 900}));
  ASSERT_TRUE(sim->addStream({.id = 901, .pin = 90}));
  ASSERT_TRUE(sim->addStream({.id = 902, .pin = 73}));  // pinned to the default itself
  ASSERT_TRUE(sim->addStream({.id = 903, .movable = false}));
  EXPECT_FALSE(sim->addStream({.id = 904, .pin = 74}));  // no outputs
  EXPECT_FALSE(sim->addStream({.id = 904, .pin = 99}));
  int told = 0;
  ASSERT_EQ(audio.addProcessOutputDeviceListener(902, nullptr, [&] { ++told; }), kAudioHardwareNoError);

  ASSERT_TRUE(sim->userSetDefault(90));
  ASSERT_TRUE(sim->userMoveStream(902, 90));  // onto the default: follows it from now on
  ASSERT_TRUE(sim->userSetDefault(73));
  EXPECT_FALSE(sim->userMoveStream(903, 90));
  EXPECT_FALSE(sim->userMoveStream(900, 74));
  ASSERT_TRUE(sim->userMoveStream(900, 80));
  ASSERT_TRUE(sim->removeDevice(80));  // its streams follow the default again
  EXPECT_THAT(events, ElementsAre("hook 90", "900 73>90", "903 73>90", "listener", "902 73>90", "hook 73", "900 90>73",
                                  "902 90>73", "903 90>73", "listener", "900 73>80", "900 80>73"));
  EXPECT_EQ(told, 2);
  EXPECT_EQ(sim->streamDevice(901), 90u);
  EXPECT_EQ(sim->streamDevice(999), 0u);
}

TEST_F(SimAudioTest, ObjectIdsAreUniqueAndReservedIdsRefused) {
  EXPECT_FALSE(sim->addDevice({.id = 0}));
  EXPECT_FALSE(sim->addDevice({.id = 1}));
  EXPECT_FALSE(sim->addDevice({.id = 73}));
  ASSERT_TRUE(sim->addStream({.id = 900, .pid = 501}));
  EXPECT_FALSE(sim->addStream({.id = 900}));
  EXPECT_FALSE(sim->addStream({.id = 73}));
  EXPECT_FALSE(sim->addDevice({.id = 900}));
  EXPECT_FALSE(sim->setRunning(901, true));
  EXPECT_FALSE(sim->removeStream(901));
  EXPECT_FALSE(sim->renameDevice(99, "x"));
  EXPECT_FALSE(sim->setInitialDefault(900));
}

TEST_F(SimAudioTest, ListenersRunOnTheirQueueOrAtOnceAndNeverUnderTheLock) {
  auto scheduler = VirtualScheduler::create();
  auto queue = scheduler->makeQueue("q");
  ASSERT_TRUE(sim->addStream({.id = 900, .pid = 501}));

  int queued = 0;
  ASSERT_EQ(audio.addProcessRunningOutputListener(900, queue, [&] { ++queued; }), kAudioHardwareNoError);
  // A listener without a queue that reads the sim back must not deadlock.
  std::vector<std::size_t> seenLists;
  ASSERT_EQ(audio.addProcessListListener(nullptr, [&] { seenLists.push_back(audio.processObjects().size()); }),
            kAudioHardwareNoError);

  ASSERT_TRUE(sim->setRunning(900, true));
  ASSERT_TRUE(sim->setRunning(900, true));  // no change, no notification
  EXPECT_EQ(queued, 0);
  scheduler->drain();
  EXPECT_EQ(queued, 1);

  ASSERT_TRUE(sim->addStream({.id = 901, .pid = 502}));
  ASSERT_TRUE(sim->removeStream(900));
  EXPECT_THAT(seenLists, ElementsAre(2u, 1u));
  // The removed object's listeners went with it.
  EXPECT_EQ(sim->listenerCount(900, kAudioProcessPropertyIsRunningOutput), 0u);
}

TEST_F(SimAudioTest, ListenerRegistrationRules) {
  ASSERT_TRUE(sim->addStream({.id = 900, .pid = 501}));
  auto block = [](std::uint32_t, const AudioObjectPropertyAddress*) {};
  auto address = [](AudioObjectPropertySelector selector) {
    return AudioObjectPropertyAddress{selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};
  };
  EXPECT_NE(sim->addPropertyListenerBlock(0, kDefaultAddress, nullptr, block), kAudioHardwareNoError);
  EXPECT_NE(sim->addPropertyListenerBlock(99, kDefaultAddress, nullptr, block), kAudioHardwareNoError);
  EXPECT_NE(sim->addPropertyListenerBlock(1, address(kAudioHardwarePropertyDevices), nullptr, block),
            kAudioHardwareNoError);
  EXPECT_NE(sim->addPropertyListenerBlock(73, kDefaultAddress, nullptr, block), kAudioHardwareNoError);
  EXPECT_NE(sim->addPropertyListenerBlock(1, kDefaultAddress, nullptr, nullptr), kAudioHardwareNoError);
  sim->failListenerRegistrations(kAudioProcessPropertyIsRunningOutput, 1);
  EXPECT_NE(sim->addPropertyListenerBlock(900, address(kAudioProcessPropertyIsRunningOutput), nullptr, block),
            kAudioHardwareNoError);
  EXPECT_EQ(sim->addPropertyListenerBlock(900, address(kAudioProcessPropertyIsRunningOutput), nullptr, block),
            kAudioHardwareNoError);
  EXPECT_EQ(sim->listenerCount(900, kAudioProcessPropertyIsRunningOutput), 1u);
  EXPECT_EQ(sim->listenerCount(1, kAudioHardwarePropertyDefaultOutputDevice), 1u);
}

TEST_F(SimAudioTest, OperationFaultsCountProgramCalls) {
  ASSERT_EQ(operationFromName("outputDevices"), SimAudio::Operation::outputDevices);
  ASSERT_EQ(operationFromName("processPID"), SimAudio::Operation::processPID);
  EXPECT_EQ(operationFromName("windowList"), std::nullopt);
  EXPECT_EQ(operationFromName(""), std::nullopt);

  // One listing is one call, however many devices it queries.
  sim->fail(*operationFromName("outputDevices"), 2);
  EXPECT_THAT(audio.outputDevices(), IsEmpty());
  EXPECT_THAT(audio.outputDevices(), IsEmpty());
  EXPECT_THAT(audio.outputDevices(), ElementsAre(73, 80, 90));

  sim->fail(SimAudio::Operation::defaultOutputDevice, -1);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(audio.defaultOutputDevice(), 0u);
  sim->fail(SimAudio::Operation::defaultOutputDevice, 0);
  EXPECT_EQ(audio.defaultOutputDevice(), 73u);

  ASSERT_TRUE(sim->renameDevice(73, std::nullopt));
  EXPECT_EQ(audio.deviceName(73), std::nullopt);
  ASSERT_TRUE(sim->renameDevice(73, "Aster"));
  EXPECT_EQ(audio.deviceName(73), "Aster");
}

}  // namespace
}  // namespace velmora::sim
