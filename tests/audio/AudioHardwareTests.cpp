#include "audio/AudioHardware.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/sim/SimAudio.h"

namespace velmora {
namespace {

using sim::SimAudio;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// What every read of an object that cannot be read gives.
void expectNothingReadable(const AudioHardware& audio, AudioObjectID id) {
  SCOPED_TRACE(id);
  EXPECT_FALSE(audio.processIsRunningOutput(id));
  EXPECT_EQ(audio.processPID(id), std::nullopt);
  EXPECT_EQ(audio.processBundleID(id), std::nullopt);
  EXPECT_EQ(audio.deviceName(id), std::nullopt);
  EXPECT_FALSE(audio.canBeDefaultOutputDevice(id));
  EXPECT_FALSE(audio.deviceIsAlive(id));
  EXPECT_EQ(audio.transportType(id), 0u);
  EXPECT_EQ(audio.processOutputDevice(id), 0u);
  EXPECT_NE(audio.setDefaultOutputDevice(id), kAudioHardwareNoError);
  EXPECT_NE(audio.setProcessOutputDevice(id, 10), kAudioHardwareNoError);
}

class AudioHardwareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim->addDevice({.id = 10, .name = "Aster U27", .transport = fourCharCode("hdmi")}));
    ASSERT_TRUE(sim->addDevice({.id = 11, .name = "Line In", .outputs = false}));
    ASSERT_TRUE(sim->addDevice({.id = 12, .name = "", .canBeDefault = false, .alive = false}));
    ASSERT_TRUE(sim->addDevice({.id = 13, .name = std::nullopt}));
    ASSERT_TRUE(sim->setInitialDefault(10));
  }

  std::shared_ptr<SimAudio> sim = std::make_shared<SimAudio>();
  AudioHardware audio{sim};
};

TEST_F(AudioHardwareTest, DeviceListKeepsSystemOrderAndDropsDevicesWithoutOutputs) {
  EXPECT_THAT(audio.outputDevices(), ElementsAre(10, 12, 13));

  // A device whose stream-configuration size query fails is dropped, the rest keep their order.
  sim->injectSizeQuery(kAudioDevicePropertyStreamConfiguration, 1);
  EXPECT_THAT(audio.outputDevices(), ElementsAre(12, 13));
  sim->injectSizeQuery(kAudioDevicePropertyStreamConfiguration, 1, 0u);
  EXPECT_THAT(audio.outputDevices(), ElementsAre(12, 13));
}

TEST_F(AudioHardwareTest, FailedOrShortSizeQueryGivesEmptyListWithoutDataRead) {
  for (AudioObjectPropertySelector selector :
       {kAudioHardwarePropertyDevices, kAudioHardwarePropertyProcessObjectList}) {
    SCOPED_TRACE(AudioHardware::fourCharCodeText(selector));
    auto list = [&] {
      return selector == kAudioHardwarePropertyDevices ? audio.outputDevices() : audio.processObjects();
    };
    const auto readsBefore = sim->dataReadCount(selector);
    // Failed, empty, shorter than one id, and absurd (not trusted with an allocation).
    for (std::optional<std::uint32_t> size : {std::optional<std::uint32_t>{}, {0u}, {2u}, {0xFFFFFFFCu}}) {
      sim->injectSizeQuery(selector, 1, size);
      EXPECT_THAT(list(), IsEmpty());
    }
    EXPECT_EQ(sim->dataReadCount(selector), readsBefore);
  }
}

TEST_F(AudioHardwareTest, CountComesFromSizeQueryAndUnfilledEntriesStayZero) {
  ASSERT_TRUE(sim->addStream({.id = 900, .pid = 501}));
  ASSERT_TRUE(sim->addStream({.id = 901, .pid = 502}));
  ASSERT_TRUE(sim->addStream({.id = 902, .pid = 503}));

  // The read returns one id of the three announced.
  sim->injectShortRead(kAudioHardwarePropertyProcessObjectList, 1, 4);
  EXPECT_THAT(audio.processObjects(), ElementsAre(900, 0, 0));

  // More announced than listed: the extra entries stay 0.
  sim->injectSizeQuery(kAudioHardwarePropertyProcessObjectList, 1, 20u);
  EXPECT_THAT(audio.processObjects(), ElementsAre(900, 901, 902, 0, 0));

  // A size that is not a whole number of ids is rounded down.
  sim->injectSizeQuery(kAudioHardwarePropertyProcessObjectList, 1, 10u);
  EXPECT_THAT(audio.processObjects(), ElementsAre(900, 901));

  // For devices, the zero entries fail their size query and drop out.
  sim->injectShortRead(kAudioHardwarePropertyDevices, 1, 8);
  EXPECT_THAT(audio.outputDevices(), ElementsAre(10));

  // Every later read on a zero entry fails, as on an unknown object.
  expectNothingReadable(audio, 0);
  expectNothingReadable(audio, 99);
  EXPECT_EQ(audio.defaultOutputDevice(), 10u);
}

TEST_F(AudioHardwareTest, DeviceAndProcessPropertiesPassOnWhatIsRead) {
  EXPECT_EQ(audio.deviceName(10), "Aster U27");
  EXPECT_EQ(audio.deviceName(12), "");  // an empty name is still a name
  EXPECT_EQ(audio.deviceName(13), std::nullopt);
  sim->fail(SimAudio::Operation::deviceName);
  EXPECT_EQ(audio.deviceName(10), std::nullopt);
  EXPECT_EQ(audio.deviceName(10), "Aster U27");
  EXPECT_TRUE(audio.canBeDefaultOutputDevice(10));
  EXPECT_FALSE(audio.canBeDefaultOutputDevice(12));
  EXPECT_TRUE(audio.deviceIsAlive(10));
  EXPECT_FALSE(audio.deviceIsAlive(12));
  EXPECT_EQ(audio.transportType(10), fourCharCode("hdmi"));
  EXPECT_EQ(AudioHardware::fourCharCodeText(0x41000042u), std::string("A\0\0B", 4));

  ASSERT_TRUE(sim->addStream({.id = 900, .pid = -7, .bundleID = "com.google.Chrome", .running = true}));
  ASSERT_TRUE(sim->addStream({.id = 901, .pid = 0, .bundleID = ""}));
  ASSERT_TRUE(sim->addStream({.id = 902}));
  EXPECT_EQ(audio.processBundleID(900), "com.google.Chrome");
  EXPECT_EQ(audio.processBundleID(901), std::nullopt);
  EXPECT_EQ(audio.processBundleID(902), std::nullopt);
  EXPECT_EQ(audio.processPID(900), -7);
  EXPECT_EQ(audio.processPID(901), 0);
  EXPECT_EQ(audio.processPID(902), std::nullopt);
  EXPECT_TRUE(audio.processIsRunningOutput(900));
  EXPECT_FALSE(audio.processIsRunningOutput(901));
  sim->fail(SimAudio::Operation::processPID);
  EXPECT_EQ(audio.processPID(900), std::nullopt);

  int moved = 0;
  ASSERT_EQ(audio.addProcessOutputDeviceListener(900, nullptr, [&] { ++moved; }), kAudioHardwareNoError);
  EXPECT_EQ(audio.processOutputDevice(900), 10u);
  EXPECT_EQ(audio.setProcessOutputDevice(900, 12), kAudioHardwareNoError);
  EXPECT_EQ(audio.processOutputDevice(900), 12u);
  EXPECT_NE(audio.setProcessOutputDevice(900, 11), kAudioHardwareNoError);  // no outputs
  EXPECT_NE(audio.setProcessOutputDevice(10, 12), kAudioHardwareNoError);   // a device has no such property
  EXPECT_EQ(moved, 1);
}

TEST_F(AudioHardwareTest, DefaultDeviceReadWriteAndListener) {
  int notified = 0;
  ASSERT_EQ(audio.addDefaultOutputDeviceListener([&] { ++notified; }), kAudioHardwareNoError);

  EXPECT_EQ(audio.setDefaultOutputDevice(13), kAudioHardwareNoError);
  EXPECT_EQ(audio.defaultOutputDevice(), 13u);
  EXPECT_EQ(notified, 1);

  // Invalid targets fail and change nothing.
  EXPECT_NE(audio.setDefaultOutputDevice(12), kAudioHardwareNoError);  // cannot be default
  sim->fail(SimAudio::Operation::setDefaultOutputDevice);
  EXPECT_NE(audio.setDefaultOutputDevice(10), kAudioHardwareNoError);
  EXPECT_EQ(audio.defaultOutputDevice(), 13u);
  EXPECT_EQ(notified, 1);

  // A failed read and "no default" both read as 0.
  sim->fail(SimAudio::Operation::defaultOutputDevice);
  EXPECT_EQ(audio.defaultOutputDevice(), 0u);
  ASSERT_TRUE(sim->setInitialDefault(0));
  EXPECT_EQ(audio.defaultOutputDevice(), 0u);
}

TEST(AudioHardwareWithoutBackEnd, GivesNeutralValues) {
  const AudioHardware audio;
  expectNothingReadable(audio, 10);
  expectNothingReadable(audio, 900);
  EXPECT_EQ(audio.defaultOutputDevice(), 0u);
  EXPECT_NE(audio.addDefaultOutputDeviceListener([] {}), kAudioHardwareNoError);
  EXPECT_THAT(audio.outputDevices(), IsEmpty());
  EXPECT_THAT(audio.processObjects(), IsEmpty());
  EXPECT_NE(audio.addProcessListListener(nullptr, [] {}), kAudioHardwareNoError);
}

}  // namespace
}  // namespace velmora
