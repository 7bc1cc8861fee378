#include <gtest/gtest.h>

#include <limits>

#include "display/DisplayAudioMapper.h"

namespace velmora {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// The device needs more than half of the window on a mapped display; the
// display is the one holding the largest part of it, mapped or not.
TEST(Coverage, WhichDeviceAndDisplayAWindowBelongsTo) {
  // Two 1000 x 1000 displays side by side: A (id 1) at the origin, B (id 2) right of it.
  const std::vector<ScreenInfo> sideBySide{{1, {0, 0, 1000, 1000}, "A"}, {2, {1000, 0, 1000, 1000}, "B"}};
  const std::vector<ScreenInfo> none;
  const std::vector<ScreenInfo> onlyB{sideBySide[1]};
  const std::vector<ScreenInfo> mirrored{{1, {0, 0, 1000, 1000}, "A"}, {2, {0, 0, 1000, 1000}, "B"}};
  const std::vector<ScreenInfo> nested{{1, {0, 0, 1000, 1000}, "A"}, {2, {0, 0, 2000, 1000}, "B"}};
  const std::vector<ScreenInfo> broken{{1, {kNaN, 0, 1000, 1000}, "A"}, {2, {1000, 0, 1000, 1000}, "B"}};
  const std::vector<ScreenInfo> leftAndBelow{{7, {-1920, -1080, 1920, 1080}, "Left"}, {8, {0, 0, 1920, 1080}, "Main"}};
  const std::vector<ScreenInfo> flipped{{9, {1920, 1080, -1920, -1080}, "Flipped"}};
  const DisplayMap both{{1, 100}, {2, 200}};
  const DisplayMap bMapped{{2, 200}};
  struct Case {
    const char* what;
    const std::vector<ScreenInfo>& screens;
    DisplayMap map;
    Rect window;
    std::optional<AudioDeviceID> device;
    std::optional<DisplayID> display;
  };
  const Case cases[] = {
      {"exactly half on each", sideBySide, both, {800, 100, 400, 300}, std::nullopt, 1},
      {"just over half on A", sideBySide, both, {799, 100, 400, 300}, 100, 1},
      {"just over half on B", sideBySide, both, {801, 100, 400, 300}, 200, 2},
      {"half off every display", sideBySide, both, {-200, 100, 400, 300}, std::nullopt, 1},
      {"no displays", none, both, {100, 100, 400, 300}, std::nullopt, std::nullopt},
      {"no map", sideBySide, {}, {100, 100, 400, 300}, std::nullopt, 1},
      // Unmapped displays never raise the bar.
      {"60 % on unmapped A, 40 % on B", sideBySide, bMapped, {700, 0, 500, 500}, std::nullopt, 1},
      {"mirrored, first unmapped", mirrored, bMapped, {10, 10, 100, 100}, 200, 1},
      {"mirrored, first keeps an equal fraction", mirrored, both, {10, 10, 100, 100}, 100, 1},
      {"nested, a higher fraction later wins", nested, both, {900, 0, 400, 100}, 200, 2},
      {"sharing only an edge", onlyB, both, {600, 100, 400, 300}, std::nullopt, std::nullopt},
      {"sharing only a corner", onlyB, both, {600, 1000, 400, 300}, std::nullopt, std::nullopt},
      {"zero width, fully inside", sideBySide, both, {100, 100, 0, 300}, std::nullopt, std::nullopt},
      {"zero height, fully inside", sideBySide, both, {100, 100, 300, 0}, std::nullopt, std::nullopt},
      {"NaN width", sideBySide, both, {100, 100, kNaN, 300}, std::nullopt, std::nullopt},
      {"NaN origin", sideBySide, both, {kNaN, 100, 300, 300}, std::nullopt, std::nullopt},
      {"infinite window", sideBySide, both, {-kInf, 0, kInf, 100}, std::nullopt, std::nullopt},
      {"NaN display frame, window on the other", broken, both, {1100, 100, 400, 300}, 200, 2},
      {"NaN display frame, window on it", broken, both, {100, 100, 400, 300}, std::nullopt, std::nullopt},
      {"negative origins", leftAndBelow, {{7, 70}, {8, 80}}, {-900, -700, 800, 600}, 70, 7},
      // Sides are magnitudes: the rectangle (-900, -700, 800, 600) again.
      {"negative sides", leftAndBelow, {{7, 70}, {8, 80}}, {-100, -100, -800, -600}, 70, 7},
      {"display frame with negative sides", flipped, {{9, 90}}, {100, 100, 400, 300}, 90, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DisplayAudioMapper::deviceForWindow(c.screens, c.map, c.window), c.device);
    EXPECT_EQ(DisplayAudioMapper::displayForWindow(c.screens, c.window), c.display);
  }
}

}  // namespace
}  // namespace velmora
