#include "platform/linux/gnome/MutterDisplays.h"

#include <gtest/gtest.h>

#include "platform/linux/common/ConnectorNames.h"
#include "platform/linux/gnome/ShellWindows.h"

namespace velmora::linuxos::gnome {
namespace {

MutterMonitor monitor(std::string connector, std::string product, std::int32_t width, std::int32_t height) {
  return MutterMonitor{std::move(connector), "DEL", std::move(product), "0x01", width, height, std::nullopt};
}

MutterLogicalMonitor logical(std::int32_t x, std::int32_t y, double scale, std::vector<std::string> connectors,
                             std::uint32_t transform = 0) {
  return MutterLogicalMonitor{x, y, scale, transform, false, std::move(connectors)};
}

struct Expected {
  std::string name;
  Rect frame;
  std::string connector;
};

void expectScreens(const MutterState& state, const std::vector<Expected>& expected, const std::string& what) {
  const auto screens = screensFromState(state);
  ASSERT_EQ(screens.size(), expected.size()) << what;
  for (std::size_t i = 0; i < screens.size(); ++i) {
    EXPECT_EQ(screens[i].localizedName, expected[i].name) << what << " #" << i;
    EXPECT_EQ(screens[i].frame, expected[i].frame) << what << " #" << i;
    EXPECT_EQ(toUInt32(screens[i].screenNumber), connectorHash(expected[i].connector)) << what << " #" << i;
  }
}

TEST(MutterDisplaysTest, ScreensShareTheWindowsLayout) {
  struct Case {
    std::string what;
    MutterState state;
    std::vector<Expected> expected;
  };
  const std::vector<Case> cases = {
      {"physical layout: a scaled monitor keeps its mode's size",
       {{monitor("DP-1", "DELL U2720Q", 3840, 2160), monitor("HDMI-1", "LG TV", 1920, 1080)},
        {logical(0, 0, 2.0, {"DP-1"}), logical(3840, 0, 1.0, {"HDMI-1"})},
        LayoutMode::physical},
       {{"DELL U2720Q", {0, 0, 3840, 2160}, "DP-1"}, {"LG TV", {3840, 0, 1920, 1080}, "HDMI-1"}}},
      {"logical layout: the mode divided by the scale",
       {{monitor("DP-1", "DELL U2720Q", 3840, 2160), monitor("eDP-1", "", 2880, 1800)},
        {logical(0, 0, 2.0, {"DP-1"}), logical(1920, 0, 1.5, {"eDP-1"})},
        LayoutMode::logical},
       {{"DELL U2720Q", {0, 0, 1920, 1080}, "DP-1"}, {"eDP-1", {1920, 0, 1920, 1200}, "eDP-1"}}},
      {"a monitor turned a quarter is taller than wide",
       {{monitor("DP-2", "Portrait", 2560, 1440)}, {logical(0, 0, 1.0, {"DP-2"}, 1)}, LayoutMode::physical},
       {{"Portrait", {0, 0, 1440, 2560}, "DP-2"}}},
      {"flipped and turned three quarters (7) is a quarter turn too; upside down (2) is not",
       {{monitor("DP-2", "Left", 1920, 1080), monitor("DP-3", "Right", 1920, 1080)},
        {logical(0, 0, 1.0, {"DP-2"}, 7), logical(1080, 0, 1.0, {"DP-3"}, 2)},
        LayoutMode::physical},
       {{"Left", {0, 0, 1080, 1920}, "DP-2"}, {"Right", {1080, 0, 1920, 1080}, "DP-3"}}},
      {"identical monitors are told apart by connector",
       {{monitor("Meta-0", "MetaVirtualMonitor", 1920, 1080), monitor("Meta-1", "MetaVirtualMonitor", 2560, 1440)},
        {logical(0, 0, 2.0, {"Meta-1"}), logical(2560, 0, 1.0, {"Meta-0"})},
        LayoutMode::physical},
       {{"MetaVirtualMonitor (Meta-1)", {0, 0, 2560, 1440}, "Meta-1"},
        {"MetaVirtualMonitor (Meta-0)", {2560, 0, 1920, 1080}, "Meta-0"}}},
      {"mirrored monitors are one screen; a monitor without a logical one or a mode is left out",
       {{monitor("HDMI-1", "Projector", 1920, 1080), monitor("eDP-1", "Panel", 1920, 1080),
         MutterMonitor{"DP-1", "DEL", "Off", "", std::nullopt, std::nullopt, std::nullopt},
         monitor("DP-2", "Unplaced", 1920, 1080)},
        {logical(0, 0, 1.0, {"HDMI-1", "eDP-1"}), logical(1920, 0, 1.0, {"DP-1"}), logical(0, 0, 1.0, {"gone"})},
        LayoutMode::physical},
       {{"Projector", {0, 0, 1920, 1080}, "HDMI-1"}}},
      {"nonsense from the bus is left out rather than believed",
       {{monitor("DP-1", "Zero", 0, 1080), monitor("DP-2", "Scale", 1920, 1080)},
        {logical(0, 0, 1.0, {"DP-1"}), logical(0, 0, 0.0, {"DP-2"})},
        LayoutMode::logical},
       {}},
  };
  for (const auto& c : cases)
    expectScreens(c.state, c.expected, c.what);
}

TEST(MutterDisplaysTest, NamesFallBackFromProductToDisplayNameToConnector) {
  MutterMonitor withDisplayName = monitor("HDMI-2", "", 1920, 1080);
  withDisplayName.displayName = "Samsung 55\"";
  MutterMonitor badProduct = monitor("DP-3", std::string("Bad\x01Name"), 1920, 1080);
  MutterMonitor notUtf8 = monitor("DP-4", std::string("\xff\xfe"), 1920, 1080);
  notUtf8.displayName = std::string("\xc3");
  const MutterState state{{withDisplayName, badProduct, notUtf8},
                          {logical(0, 0, 1, {"HDMI-2"}), logical(1920, 0, 1, {"DP-3"}), logical(3840, 0, 1, {"DP-4"})},
                          LayoutMode::physical};
  expectScreens(state,
                {{"Samsung 55\"", {0, 0, 1920, 1080}, "HDMI-2"},
                 {"DP-3", {1920, 0, 1920, 1080}, "DP-3"},
                 {"DP-4", {3840, 0, 1920, 1080}, "DP-4"}},
                "fallbacks");
  const auto screens = screensFromState(state);
  EXPECT_EQ(screens[0].identity, (DisplayIdentity{"DEL", std::nullopt, "0x01", "HDMI-2"}));
  EXPECT_EQ(screens[1].identity.model, std::nullopt) << "text that cannot be shown names nothing";
}

TEST(ShellWindowsTest, EntriesKeepOrderAndLeaveOutWhatCannotBeShown) {
  const std::vector<ShellWindow> windows = {
      {4242, 100, 50, 800, 600},     // front
      {-1, 0, 0, 300, 200},          // pid unknown: still hides what is behind
      {4243, 10, 10, 0, 200},        // no width
      {4243, -1920, 0, 1920, 1080},  // left of the primary monitor
      {0, 5, 5, 10, -1},             // negative height
  };
  const auto all = windowEntries(windows);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(toInt32(all[0].ownerPID), 4242);
  EXPECT_EQ(toRect(all[0].bounds), (Rect{100, 50, 800, 600}));
  EXPECT_EQ(toBool(all[0].isOnscreen), true);
  EXPECT_FALSE(all[1].ownerPID.has_value());
  EXPECT_EQ(toRect(all[1].bounds), (Rect{0, 0, 300, 200}));
  EXPECT_EQ(toRect(all[2].bounds), (Rect{-1920, 0, 1920, 1080}));

  const auto mine = windowEntries(windows, 4243);
  ASSERT_EQ(mine.size(), 1u);
  EXPECT_EQ(toInt32(mine[0].ownerPID), 4243);
  EXPECT_TRUE(windowEntries(windows, 7).empty());
  EXPECT_TRUE(windowEntries({}).empty());
}

}  // namespace
}  // namespace velmora::linuxos::gnome
