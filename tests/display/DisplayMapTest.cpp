#include <gtest/gtest.h>

#include "display/DisplayAudioMapper.h"
#include "platform/sim/SimAudio.h"
#include "platform/sim/SimScreens.h"

namespace velmora {
namespace {

using sim::SimAudio;

PlatformScreen screen(std::optional<PlatformValue> number, std::string name, Rect frame = {0, 0, 1920, 1080}) {
  return PlatformScreen{std::move(number), frame, std::move(name)};
}

PlatformScreen screen(std::int64_t number, std::string name, Rect frame = {0, 0, 1920, 1080}) {
  return screen(PlatformValue{number}, std::move(name), frame);
}

class DisplayMapTest : public ::testing::Test {
 protected:
  DisplayAudioMapper mapper() const { return DisplayAudioMapper(AudioHardware(audio), screens); }

  std::shared_ptr<SimAudio> audio = std::make_shared<SimAudio>();
  std::shared_ptr<sim::SimScreens> screens = std::make_shared<sim::SimScreens>();
};

TEST_F(DisplayMapTest, CatalogueSkipsUnusableNumbersAndKeepsOrderAndDuplicates) {
  screens->setScreens({
      screen(5, "Left", {-1920, -200, 1920, 1080}),
      screen(std::nullopt, "No number"),
      screen(PlatformValue{std::string("6")}, "Text number"),
      screen(PlatformValue{-1.0}, "Negative"),
      screen(PlatformValue{std::int64_t{1} << 32}, "Too large"),
      screen(PlatformValue{2.5}, "Fractional"),
      screen(PlatformValue{3.0}, "Integral double"),
      screen(0, "Zero"),
      screen(5, "Left again"),
  });
  const std::vector<ScreenInfo> expected{
      {5, {-1920, -200, 1920, 1080}, "Left"},
      {3, {0, 0, 1920, 1080}, "Integral double"},
      {0, {0, 0, 1920, 1080}, "Zero"},
      {5, {0, 0, 1920, 1080}, "Left again"},
  };
  EXPECT_EQ(mapper().currentScreens(), expected);
  EXPECT_TRUE(DisplayAudioMapper().currentScreens().empty());
  EXPECT_TRUE(DisplayAudioMapper().buildDisplayMap().empty());
}

TEST_F(DisplayMapTest, MapUsesOnlyEligibleDevicesAndTheLastScreenOfAnId) {
  ASSERT_TRUE(audio->addDevice({.id = 30, .name = "Aster U27 Panel", .canBeDefault = false}));
  ASSERT_TRUE(audio->addDevice({.id = 31, .name = "Aster Speakers"}));
  ASSERT_TRUE(audio->addDevice({.id = 32, .name = "Borealis Speakers"}));
  ASSERT_TRUE(audio->addDevice({.id = 33, .name = "Cirrus Monitor", .outputs = false}));
  ASSERT_TRUE(audio->addDevice({.id = 34, .name = "Denali Audio"}));
  screens->setScreens({
      screen(1, "Aster U27 Panel"),
      screen(std::nullopt, "Borealis"),
      screen(2, "Cirrus Monitor"),
      screen(3, "Aster U27 Panel"),
      screen(4, "Borealis"),
      screen(4, "Denali"),
      screen(5, "Eiger"),
      screen(6, "Denali"),
      screen(7, "Borealis"),
      screen(7, "Eiger"),
  });
  // Two displays of one name share a device; the ineligible device and the one
  // without outputs are never chosen; the last screen of an id decides, unless
  // it matches nothing, in which case the earlier entry stays.
  const DisplayMap expected{{1, 31}, {3, 31}, {4, 34}, {6, 34}, {7, 32}};
  EXPECT_EQ(mapper().buildDisplayMap(), expected);
}

TEST_F(DisplayMapTest, MapIsEmptyWithoutDevicesScreensOrDeviceList) {
  screens->setScreens({screen(1, "Aster U27")});
  EXPECT_TRUE(mapper().buildDisplayMap().empty());
  ASSERT_TRUE(audio->addDevice({.id = 40, .name = "Aster U27"}));
  EXPECT_EQ(mapper().buildDisplayMap(), (DisplayMap{{1, 40}}));
  audio->fail(SimAudio::Operation::outputDevices, 1);
  EXPECT_TRUE(mapper().buildDisplayMap().empty());
  audio->fail(SimAudio::Operation::deviceName, 1);
  EXPECT_TRUE(mapper().buildDisplayMap().empty());
  screens->setScreens({});
  EXPECT_TRUE(mapper().buildDisplayMap().empty());
}

}  // namespace
}  // namespace velmora
