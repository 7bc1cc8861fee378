#include <gtest/gtest.h>

#include "platform/linux/wayland/OutputRules.h"
#include "platform/linux/wayland/WaylandOutputs.h"

namespace velmora::linuxos {
namespace {

WaylandOutputInfo output(std::string connector, std::string model, std::optional<Rect> logical,
                         std::string description = "") {
  return {std::move(connector), "", std::move(model), std::move(description), logical};
}

TEST(WaylandOutputRules, NamesComeFromTheModelThenTheDescriptionThenTheConnector) {
  struct Case {
    WaylandOutputInfo info;
    std::string name;
  };
  const std::vector<Case> cases = {
      {output("DP-2", "DELL U2720Q", Rect{}, "Dell Inc. DELL U2720Q 1234 (DP-2)"), "DELL U2720Q"},
      {output("DP-2", "", Rect{}, "Dell Inc. DELL U2720Q 1234 (DP-2)"), "Dell Inc. DELL U2720Q 1234 (DP-2)"},
      {output("DP-2", "Unknown", Rect{}, "Living room TV"), "Living room TV"},
      {output("HDMI-A-1", "unknown", Rect{}), "HDMI-A-1"},
      // sway 1.10's headless outputs: nothing known but the connector.
      {{"HEADLESS-1", "Unknown", "Unknown", "Headless output 3", Rect{}}, "HEADLESS-1"},
      {output("HDMI-A-1", "bad\x01model", Rect{}), "HDMI-A-1"},
      {output("HDMI-A-1", "\xc3\x28", Rect{}, "\xff"), "HDMI-A-1"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(outputDisplayName(c.info), c.name) << c.info.model;
}

TEST(WaylandOutputRules, SharedNamesGetTheirConnectorAndIdsFollowTheConnector) {
  ConnectorIds ids;
  const std::vector<WaylandOutputInfo> outputs = {
      output("DP-1", "DELL U2720Q", Rect{0, 0, 2560, 1440}),
      output("DP-2", "DELL U2720Q", Rect{2560, 0, 1280, 720}),  // a 4K panel at scale 2, in logical units
      output("HDMI-A-1", "LG TV", Rect{-1920, 0, 1920, 1080}),
      output("DP-3", "Pending", std::nullopt),  // not yet placed
      output("DP-4", "Broken", Rect{0, 0, -5, 10}),
  };
  auto screens = screensFromOutputs(outputs, ids);
  ASSERT_EQ(screens.size(), 3u);
  EXPECT_EQ(screens[0].localizedName, "DELL U2720Q (DP-1)");
  EXPECT_EQ(screens[1].localizedName, "DELL U2720Q (DP-2)");
  EXPECT_EQ(screens[2].localizedName, "LG TV");
  EXPECT_EQ(screens[1].frame, (Rect{2560, 0, 1280, 720}));
  EXPECT_EQ(screens[2].frame.x, -1920);
  EXPECT_EQ(screens[1].identity, (DisplayIdentity{std::nullopt, "DELL U2720Q", std::nullopt, "DP-2"}));

  const auto dp2 = toUInt32(screens[1].screenNumber);
  const auto tv = toUInt32(screens[2].screenNumber);
  ASSERT_TRUE(dp2 && tv);
  EXPECT_NE(*dp2, toUInt32(screens[0].screenNumber));
  EXPECT_NE(*dp2, *tv);

  // DP-1 unplugged: DP-2's name is its own again, and it keeps its id; so
  // does the TV, plugged back later.
  screens = screensFromOutputs({outputs[1], outputs[2]}, ids);
  EXPECT_EQ(screens[0].localizedName, "DELL U2720Q");
  EXPECT_EQ(toUInt32(screens[0].screenNumber), dp2);
  screens = screensFromOutputs({outputs[2]}, ids);
  EXPECT_EQ(toUInt32(screens[0].screenNumber), tv);

  // Ids derive from the connector, so a fresh process gives the same ones.
  ConnectorIds fresh;
  EXPECT_EQ(fresh.idFor("DP-2"), *dp2);
}

TEST(WaylandOutputs, WithoutACompositorThereAreNoScreensAndNoWait) {
  auto start = std::chrono::steady_clock::now();
  {
    WaylandOutputs outputs(nullptr, std::string("/nonexistent/velmora/wayland-0"));
    EXPECT_TRUE(outputs.screens().empty());
    EXPECT_FALSE(outputs.connected());
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
}

}  // namespace
}  // namespace velmora::linuxos
