#include <gtest/gtest.h>

#include <limits>

#include "display/DisplayAudioMapper.h"

namespace velmora {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Two 1000 x 1000 displays side by side: A (id 1) at the origin, B (id 2) right of it.
const std::vector<ScreenInfo> kSideBySide{{1, {0, 0, 1000, 1000}, "A"}, {2, {1000, 0, 1000, 1000}, "B"}};
const DisplayMap kBothMapped{{1, 100}, {2, 200}};

std::optional<AudioDeviceID> device(const std::vector<ScreenInfo>& screens, const DisplayMap& map, Rect window) {
  return DisplayAudioMapper::deviceForWindow(screens, map, window);
}

std::optional<DisplayID> display(const std::vector<ScreenInfo>& screens, Rect window) {
  return DisplayAudioMapper::displayForWindow(screens, window);
}

TEST(Coverage, MoreThanHalfIsNeeded) {
  // Exactly half on each: neither display qualifies.
  EXPECT_EQ(device(kSideBySide, kBothMapped, {800, 100, 400, 300}), std::nullopt);
  EXPECT_EQ(display(kSideBySide, {800, 100, 400, 300}), 1u);
  // Just over half on B.
  EXPECT_EQ(device(kSideBySide, kBothMapped, {799, 100, 400, 300}), 100u);
  EXPECT_EQ(device(kSideBySide, kBothMapped, {801, 100, 400, 300}), 200u);
  // Half of the window off every display: nothing crosses the bar.
  EXPECT_EQ(device(kSideBySide, kBothMapped, {-200, 100, 400, 300}), std::nullopt);
  EXPECT_EQ(display(kSideBySide, {-200, 100, 400, 300}), 1u);
  EXPECT_EQ(device({}, kBothMapped, {100, 100, 400, 300}), std::nullopt);
  EXPECT_EQ(device(kSideBySide, {}, {100, 100, 400, 300}), std::nullopt);
  EXPECT_EQ(display({}, {100, 100, 400, 300}), std::nullopt);
}

TEST(Coverage, UnmappedDisplaysNeverRaiseTheBar) {
  // 60 % on the unmapped A, 40 % on the mapped B.
  const DisplayMap onlyB{{2, 200}};
  EXPECT_EQ(device(kSideBySide, onlyB, {700, 0, 500, 500}), std::nullopt);
  EXPECT_EQ(display(kSideBySide, {700, 0, 500, 500}), 1u);

  // Mirrored displays: the first unmapped, the second mapped.
  const std::vector<ScreenInfo> mirrored{{1, {0, 0, 1000, 1000}, "A"}, {2, {0, 0, 1000, 1000}, "B"}};
  EXPECT_EQ(device(mirrored, onlyB, {10, 10, 100, 100}), 200u);
  // Both mapped: the first keeps an equal fraction; a higher one later wins.
  EXPECT_EQ(device(mirrored, kBothMapped, {10, 10, 100, 100}), 100u);
  EXPECT_EQ(display(mirrored, {10, 10, 100, 100}), 1u);
  const std::vector<ScreenInfo> nested{{1, {0, 0, 1000, 1000}, "A"}, {2, {0, 0, 2000, 1000}, "B"}};
  EXPECT_EQ(device(nested, kBothMapped, {900, 0, 400, 100}), 200u);
  EXPECT_EQ(display(nested, {900, 0, 400, 100}), 2u);
}

TEST(Coverage, TouchingEdgesAndDegenerateWindowsSelectNothing) {
  // Sharing only B's left edge, or only a corner.
  EXPECT_EQ(display({kSideBySide[1]}, {600, 100, 400, 300}), std::nullopt);
  EXPECT_EQ(device({kSideBySide[1]}, kBothMapped, {600, 100, 400, 300}), std::nullopt);
  EXPECT_EQ(display({kSideBySide[1]}, {600, 1000, 400, 300}), std::nullopt);
  // Zero width or height: no device and no display, even fully inside.
  EXPECT_EQ(device(kSideBySide, kBothMapped, {100, 100, 0, 300}), std::nullopt);
  EXPECT_EQ(display(kSideBySide, {100, 100, 0, 300}), std::nullopt);
  EXPECT_EQ(display(kSideBySide, {100, 100, 300, 0}), std::nullopt);
  // Not a number anywhere: nothing, and no crash.
  EXPECT_EQ(device(kSideBySide, kBothMapped, {100, 100, kNaN, 300}), std::nullopt);
  EXPECT_EQ(display(kSideBySide, {kNaN, 100, 300, 300}), std::nullopt);
  const std::vector<ScreenInfo> broken{{1, {kNaN, 0, 1000, 1000}, "A"}, {2, {1000, 0, 1000, 1000}, "B"}};
  EXPECT_EQ(device(broken, kBothMapped, {1100, 100, 400, 300}), 200u);
  EXPECT_EQ(display(broken, {100, 100, 400, 300}), std::nullopt);
  constexpr double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(device(kSideBySide, kBothMapped, {-inf, 0, inf, 100}), std::nullopt);
}

TEST(Coverage, NegativeOriginsAndNegativeSizes) {
  const std::vector<ScreenInfo> leftAndBelow{{7, {-1920, -1080, 1920, 1080}, "Left"}, {8, {0, 0, 1920, 1080}, "Main"}};
  const DisplayMap map{{7, 70}, {8, 80}};
  EXPECT_EQ(device(leftAndBelow, map, {-900, -700, 800, 600}), 70u);
  EXPECT_EQ(display(leftAndBelow, {-900, -700, 800, 600}), 7u);
  // Sides are magnitudes: this is the rectangle (-900, -700, 800, 600) again.
  EXPECT_EQ(device(leftAndBelow, map, {-100, -100, -800, -600}), 70u);
  EXPECT_EQ(display(leftAndBelow, {-100, -100, -800, -600}), 7u);
  // A display frame given with negative sides is normalised the same way.
  const std::vector<ScreenInfo> flipped{{9, {1920, 1080, -1920, -1080}, "Flipped"}};
  EXPECT_EQ(device(flipped, {{9, 90}}, {100, 100, 400, 300}), 90u);
}

}  // namespace
}  // namespace velmora
