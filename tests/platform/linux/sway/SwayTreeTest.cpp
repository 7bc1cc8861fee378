#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/linux/sway/SwayIpc.h"
#include "platform/linux/sway/SwayTree.h"

namespace velmora::linuxos {
namespace {

using nlohmann::json;

std::string recordedTree() {
  std::ifstream in(std::string(VELMORA_SWAY_TEST_DATA) + "/tree-three-outputs.json");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<Pid> pidsOf(const std::vector<WindowListEntry>& entries) {
  std::vector<Pid> pids;
  for (const auto& e : entries)
    pids.push_back(toInt32(e.ownerPID).value_or(-1));
  return pids;
}

json view(Pid pid, Rect r, bool visible = true) {
  return {{"type", "con"},
          {"pid", pid},
          {"visible", visible},
          {"focused", false},
          {"nodes", json::array()},
          {"floating_nodes", json::array()},
          {"rect", {{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}}}};
}

json floatingView(Pid pid, Rect r) {
  json v = view(pid, r);
  v["type"] = "floating_con";
  return v;
}

json workspace(std::vector<json> tiled, std::vector<json> floating = {}) {
  return {{"type", "workspace"}, {"nodes", tiled}, {"floating_nodes", floating}};
}

std::string tree(std::vector<json> workspaces) {
  json output = {{"type", "output"}, {"name", "DP-1"}, {"nodes", workspaces}};
  return json{{"type", "root"}, {"nodes", {output}}}.dump();
}

// Recorded from sway 1.7 on three headless outputs, the third at scale 2:
// 7887 fullscreen and focused on the second output, 7884 floating on the
// first, 7885 tiled on the third, 7886 on a hidden workspace, 7883 in the
// scratchpad.
TEST(SwayTree, RecordedTreeListsVisibleWindowsFrontToBackInLayoutCoordinates) {
  auto windows = swayWindowsFromTree(recordedTree());
  ASSERT_TRUE(windows);
  EXPECT_EQ(pidsOf(windows->onScreen), (std::vector<Pid>{7887, 7884, 7885}));
  EXPECT_EQ(toRect(windows->onScreen[0].bounds), (Rect{1280, 0, 1280, 720}));
  EXPECT_EQ(toRect(windows->onScreen[1].bounds), (Rect{100, 127, 400, 273}));
  // Logical, not pixel, coordinates on the scaled output.
  EXPECT_EQ(toRect(windows->onScreen[2].bounds), (Rect{2560, 27, 1280, 693}));
  for (const auto& entry : windows->onScreen)
    EXPECT_EQ(toBool(entry.isOnscreen), true);
  // Hidden and scratchpad windows still own their processes.
  EXPECT_EQ(windows->owners.size(), 5u);
  EXPECT_EQ(windows->owners.at(7883), "foot");
}

TEST(SwayTree, OddFieldsLeaveOutOnlyThatField) {
  struct Case {
    const char* what;
    json pid;
    json rect;
    std::optional<Pid> expectedPid;
    std::optional<Rect> expectedBounds;
  };
  const json good = {{"x", -1280}, {"y", 0}, {"width", 640}, {"height", 480}};
  const std::vector<Case> cases = {
      {"left of the origin", 42, good, 42, Rect{-1280, 0, 640, 480}},
      {"zero pid", 0, good, std::nullopt, Rect{-1280, 0, 640, 480}},
      {"negative pid", -5, good, std::nullopt, Rect{-1280, 0, 640, 480}},
      {"pid past 32 bits", 1LL << 40, good, std::nullopt, Rect{-1280, 0, 640, 480}},
      {"pid as text", "42", good, std::nullopt, Rect{-1280, 0, 640, 480}},
      {"fractional pid", 4.5, good, std::nullopt, Rect{-1280, 0, 640, 480}},
      {"negative width", 42, {{"x", 0}, {"y", 0}, {"width", -10}, {"height", 480}}, 42, std::nullopt},
      {"empty", 42, {{"x", 0}, {"y", 0}, {"width", 0}, {"height", 0}}, 42, std::nullopt},
      {"huge", 42, {{"x", 0}, {"y", 0}, {"width", 1e300}, {"height", 480}}, 42, std::nullopt},
      {"past 32 bits", 42, {{"x", 2147483000}, {"y", 0}, {"width", 1000}, {"height", 480}}, 42, std::nullopt},
      {"field missing", 42, {{"x", 0}, {"y", 0}, {"width", 10}}, 42, std::nullopt},
      {"not an object", 42, "0,0,10,10", 42, std::nullopt},
  };
  for (const auto& c : cases) {
    json v = view(1, {});
    v["rect"] = c.rect;
    v["pid"] = c.pid;
    auto windows = swayWindowsFromTree(tree({workspace({v})}));
    ASSERT_TRUE(windows) << c.what;
    ASSERT_EQ(windows->onScreen.size(), 1u) << c.what;
    EXPECT_EQ(toInt32(windows->onScreen[0].ownerPID), c.expectedPid) << c.what;
    EXPECT_EQ(toRect(windows->onScreen[0].bounds), c.expectedBounds) << c.what;
  }

  // A window without a visible flag is not taken for an on-screen one.
  json unsure = view(7, {0, 0, 10, 10});
  unsure.erase("visible");
  EXPECT_TRUE(swayWindowsFromTree(tree({workspace({unsure})}))->onScreen.empty());
}

TEST(SwayTree, RepliesThatAreNotTreesGiveNothing) {
  for (const char* reply : {"", "null", "[]", "{}", R"({"type":"output","nodes":[]})", R"({"type":"root","nodes":[)",
                            "\xff\xfe", R"({"type":"root")"})
    EXPECT_FALSE(swayWindowsFromTree(reply)) << reply;
  // A root whose children are not a list has no windows.
  auto odd = swayWindowsFromTree(R"({"type":"root","nodes":{"a":1},"floating_nodes":7})");
  ASSERT_TRUE(odd);
  EXPECT_TRUE(odd->onScreen.empty());
}

TEST(SwayTree, DeepTreesAreWalked) {
  // Nested splits, as deep as a user could make them.
  json node = view(99, {10, 10, 100, 100});
  for (int i = 0; i < 200; ++i)
    node = json{{"type", "con"}, {"nodes", {node}}, {"floating_nodes", json::array()}};
  auto windows = swayWindowsFromTree(tree({workspace({node})}));
  ASSERT_TRUE(windows);
  EXPECT_EQ(pidsOf(windows->onScreen), (std::vector<Pid>{99}));
}

TEST(SwayTree, FocusedThenFullscreenThenFloatingTopFirstThenTiled) {
  json focusedTiled = view(1, {0, 0, 100, 100});
  focusedTiled["focused"] = true;
  json fullscreen = view(2, {2000, 0, 1000, 1000});
  fullscreen["fullscreen_mode"] = 1;
  const std::string text = tree({
      workspace({view(3, {0, 0, 50, 50}), focusedTiled},
                {floatingView(4, {10, 10, 20, 20}), floatingView(5, {12, 12, 20, 20})}),
      workspace({fullscreen}, {floatingView(6, {2010, 10, 20, 20})}),
      workspace({view(7, {0, 0, 50, 50}, false)}, {floatingView(8, {0, 0, 5, 5})}),
  });
  auto windows = swayWindowsFromTree(text);
  ASSERT_TRUE(windows);
  // 5 was raised after 4, so it is above it; 7 is on a hidden workspace.
  EXPECT_EQ(pidsOf(windows->onScreen), (std::vector<Pid>{1, 2, 5, 4, 6, 8, 3}));
}

TEST(SwayTree, OnlyEventsThatCanMoveWindowsAskForTheTree) {
  struct Case {
    std::uint32_t type;
    const char* payload;
    bool readsTree;
  };
  const std::vector<Case> cases = {
      // Recorded from sway 1.7: the move event's own rectangle is stale.
      {kSwayWindowEvent, R"({"change":"move","container":{"rect":{"x":2560,"y":27,"width":0,"height":-27}}})", true},
      {kSwayWindowEvent, R"({"change":"title"})", false},
      {kSwayWindowEvent, R"({"change":"mark"})", false},
      {kSwayWindowEvent, R"({"change":"new"})", true},
      {kSwayWindowEvent, R"({"change":"fullscreen_mode"})", true},
      {kSwayWorkspaceEvent, R"({"change":"focus"})", true},
      {kSwayWorkspaceEvent, R"({"change":"rename"})", false},
      {kSwayOutputEvent, R"({"change":"unspecified"})", true},
      {kSwayWindowEvent, "not json", true},
      {kSwayShutdownEvent, R"({"change":"exit"})", false},
      {static_cast<std::uint32_t>(SwayRequest::getTree), "{}", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(swayEventMayMoveWindows(c.type, c.payload), c.readsTree) << c.payload;
}

TEST(SwayTree, VersionIsShownOnlyWhenItIsText) {
  EXPECT_EQ(swayVersion(R"({"human_readable":"1.7","major":1,"minor":7})"), "1.7");
  EXPECT_EQ(swayVersion(R"({"human_readable":7})"), std::nullopt);
  EXPECT_EQ(swayVersion("{\"human_readable\":\"1.7\\u0007\"}"), std::nullopt);
  EXPECT_EQ(swayVersion("garbage"), std::nullopt);
}

}  // namespace
}  // namespace velmora::linuxos
