#include "platform/linux/kde/KdeOutputRules.h"

#include <gtest/gtest.h>

#include "platform/linux/common/ConnectorNames.h"
#include "platform/linux/common/EdidBlob.h"

namespace velmora::linuxos {
namespace {

// An EDID base block naming the product, as base64.
std::string edidNaming(const std::string& product) {
  return test::base64(test::edidWithName(product));
}

TEST(KdeOutputRulesTest, DecodesBase64Strictly) {
  EXPECT_EQ(decodeBase64(""), std::vector<std::uint8_t>{});
  EXPECT_EQ(decodeBase64("TWFu"), (std::vector<std::uint8_t>{'M', 'a', 'n'}));
  EXPECT_EQ(decodeBase64("TWE="), (std::vector<std::uint8_t>{'M', 'a'}));
  EXPECT_EQ(decodeBase64("TQ=="), (std::vector<std::uint8_t>{'M'}));
  for (const char* bad : {"TWF", "T===", "TQ==TWFu", "TW=u", "TW u", "TWF\n"})
    EXPECT_FALSE(decodeBase64(bad)) << bad;
}

TEST(KdeOutputRulesTest, TurnsOutputDevicesIntoScreens) {
  struct Case {
    const char* what;
    OutputDeviceState output;
    std::optional<Rect> frame;
    std::string name;
  };
  OutputDeviceState base;
  base.name = "DP-2";
  base.x = 1920;
  base.y = 0;
  base.modeWidth = 3840;
  base.modeHeight = 2160;
  auto with = [&](auto change) {
    OutputDeviceState o = base;
    change(o);
    return o;
  };
  const std::vector<Case> cases = {
      {"EDID product name first", with([](auto& o) {
         o.edidBase64 = edidNaming("Borealis Q32");
         o.model = "BQ32";
       }),
       Rect{1920, 0, 3840, 2160}, "Borealis Q32"},
      {"then the model", with([](auto& o) { o.model = "BQ32"; }), Rect{1920, 0, 3840, 2160}, "BQ32"},
      {"then the connector; bad EDID ignored", with([](auto& o) { o.edidBase64 = "!!"; }), Rect{1920, 0, 3840, 2160},
       "DP-2"},
      {"scale 2 halves the logical size", with([](auto& o) { o.scale = 2; }), Rect{1920, 0, 1920, 1080}, "DP-2"},
      {"fractional scale rounds", with([](auto& o) { o.scale = 1.5; }), Rect{1920, 0, 2560, 1440}, "DP-2"},
      {"turned 90 degrees", with([](auto& o) { o.transform = 1; }), Rect{1920, 0, 2160, 3840}, "DP-2"},
      {"flipped 270 degrees", with([](auto& o) { o.transform = 7; }), Rect{1920, 0, 2160, 3840}, "DP-2"},
      {"disabled", with([](auto& o) { o.enabled = false; }), std::nullopt, ""},
      {"no current mode", with([](auto& o) { o.modeWidth = 0; }), std::nullopt, ""},
      {"zero scale", with([](auto& o) { o.scale = 0; }), std::nullopt, ""},
  };
  for (const Case& c : cases) {
    const auto screen = screenFromOutputDevice(c.output);
    ASSERT_EQ(screen.has_value(), c.frame.has_value()) << c.what;
    if (!screen) continue;
    EXPECT_EQ(screen->frame, *c.frame) << c.what;
    EXPECT_EQ(screen->localizedName, c.name) << c.what;
    EXPECT_EQ(toUInt32(screen->screenNumber), connectorHash("DP-2")) << c.what;
  }

  // Who the monitor is: from the EDID where there is one (the maker's PnP id,
  // here none), else what KWin tells.
  EXPECT_EQ(screenFromOutputDevice(cases[0].output)->identity,
            (DisplayIdentity{std::nullopt, "Borealis Q32", std::nullopt, "DP-2"}));
  EXPECT_EQ(screenFromOutputDevice(with([](auto& o) {
              o.make = "Dell Inc.";
              o.model = "DELL U2720Q";
              o.serial = "CN0X7K";
            }))->identity,
            (DisplayIdentity{"Dell Inc.", "DELL U2720Q", "CN0X7K", "DP-2"}));

  // Two monitors of one model are told apart by their connector, as on the
  // other desktops; a disabled one takes no part.
  auto named = [&](const char* connector, const char* product, bool enabled = true) {
    return with([&](auto& o) {
      o.name = connector;
      o.edidBase64 = edidNaming(product);
      o.enabled = enabled;
    });
  };
  std::vector<std::string> names;
  for (const auto& s : screensFromOutputDevices({named("DP-1", "Aster 27"), named("DP-2", "Aster 27"),
                                                 named("DP-3", "Borealis Q32"), named("DP-4", "Borealis Q32", false)}))
    names.push_back(s.localizedName);
  EXPECT_EQ(names, (std::vector<std::string>{"Aster 27 (DP-1)", "Aster 27 (DP-2)", "Borealis Q32"}));
}

}  // namespace
}  // namespace velmora::linuxos
