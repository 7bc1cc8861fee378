#include <gtest/gtest.h>

#include "platform/sim/SimWindows.h"

namespace velmora::sim {
namespace {

std::vector<std::string> ids(const SimWindows& windows) {
  std::vector<std::string> out;
  for (const SimWindow& w : windows.windows())
    out.push_back(w.id);
  return out;
}

TEST(SimWindows, KeepsTheStackingOrder) {
  SimWindows windows({{"a", 1, {0, 0, 10, 10}}, {"b", 2, {0, 0, 20, 20}}, {"c", 1, {0, 0, 30, 30}}});
  EXPECT_TRUE(windows.raise("c"));
  EXPECT_EQ(ids(windows), (std::vector<std::string>{"c", "a", "b"}));
  EXPECT_TRUE(windows.move("a", {5, 5, 50, 50}));
  EXPECT_EQ(ids(windows), (std::vector<std::string>{"c", "a", "b"}));
  EXPECT_EQ(windows.windows()[1].bounds, (Rect{5, 5, 50, 50}));
  EXPECT_TRUE(windows.open({"d", 3, {}}));
  EXPECT_FALSE(windows.open({"b", 9, {}}));
  EXPECT_EQ(ids(windows), (std::vector<std::string>{"d", "c", "a", "b"}));
  EXPECT_EQ(windows.closeAllOf(1), 2u);
  EXPECT_EQ(ids(windows), (std::vector<std::string>{"d", "b"}));
  EXPECT_TRUE(windows.close("d"));
  EXPECT_FALSE(windows.close("d"));
  EXPECT_FALSE(windows.move("zz", {}));
  EXPECT_FALSE(windows.raise("zz"));
  EXPECT_EQ(ids(windows), (std::vector<std::string>{"b"}));
}

TEST(SimWindows, EntriesCarryTheFlagOnlyWhenItExists) {
  SimWindows windows({{"a", 500, {1, 2, 3, 4}, true}, {"b", 501, {}, false}, {"c", 502, {}, std::nullopt}});
  const auto list = windows.onScreenWindows();
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 3u);
  EXPECT_EQ(toInt32((*list)[0].ownerPID), 500);
  EXPECT_EQ(toRect((*list)[0].bounds), (Rect{1, 2, 3, 4}));
  EXPECT_EQ(toBool((*list)[0].isOnscreen), true);
  EXPECT_EQ(toBool((*list)[1].isOnscreen), false);
  EXPECT_FALSE((*list)[2].isOnscreen.has_value());
}

TEST(SimWindows, ListFaultCountsDownOrLasts) {
  SimWindows windows({{"a", 1, {}}});
  windows.failWindowList(2);
  EXPECT_FALSE(windows.onScreenWindows());
  EXPECT_FALSE(windows.onScreenWindows());
  EXPECT_TRUE(windows.onScreenWindows());
  windows.failWindowList(-1);
  for (int i = 0; i < 5; ++i)
    EXPECT_FALSE(windows.onScreenWindows());
  windows.failWindowList(0);
  EXPECT_TRUE(windows.onScreenWindows());
}

}  // namespace
}  // namespace velmora::sim
