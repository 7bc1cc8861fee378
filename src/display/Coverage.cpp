// Which display holds a window: the threshold rule that picks a device and
// the largest-overlap rule that picks a display.

#include <algorithm>
#include <cmath>

#include "display/DisplayAudioMapper.h"

namespace velmora {

namespace {

constexpr double kCoverageThreshold = 0.5;

struct Span {
  double minX, minY, maxX, maxY;
};

// Sides are magnitudes: a rectangle with a negative width extends to the left
// of its origin.
std::optional<Span> span(const Rect& r) {
  const double x0 = r.x, x1 = r.x + r.width;
  const double y0 = r.y, y1 = r.y + r.height;
  if (std::isnan(x0) || std::isnan(x1) || std::isnan(y0) || std::isnan(y1)) return std::nullopt;
  return Span{std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)};
}

double area(const Rect& r) {
  return std::fabs(r.width) * std::fabs(r.height);
}

// Area of the common part, or nullopt when the rectangles do not meet (or
// cannot be compared). Rectangles that only touch give 0.
std::optional<double> intersectionArea(const Rect& a, const Rect& b) {
  const std::optional<Span> sa = span(a);
  const std::optional<Span> sb = span(b);
  if (!sa || !sb) return std::nullopt;
  const double minX = std::max(sa->minX, sb->minX);
  const double maxX = std::min(sa->maxX, sb->maxX);
  const double minY = std::max(sa->minY, sb->minY);
  const double maxY = std::min(sa->maxY, sb->maxY);
  if (!(minX <= maxX) || !(minY <= maxY)) return std::nullopt;
  const double result = (maxX - minX) * (maxY - minY);
  // Infinite extents can give inf - inf.
  if (std::isnan(result)) return std::nullopt;
  return result;
}

}  // namespace

std::optional<AudioDeviceID> DisplayAudioMapper::deviceForWindow(const std::vector<ScreenInfo>& screens,
                                                                 const DisplayMap& map, const Rect& window) {
  const double windowArea = area(window);
  if (!(windowArea > 0)) return std::nullopt;
  if (screens.empty()) return std::nullopt;

  double bar = kCoverageThreshold;
  std::optional<AudioDeviceID> result;
  for (const ScreenInfo& screen : screens) {
    const std::optional<double> common = intersectionArea(window, screen.frame);
    if (!common) continue;
    const double fraction = *common / windowArea;
    if (!(fraction > bar)) continue;
    // Only a display with speakers raises the bar.
    const auto entry = map.find(screen.displayID);
    if (entry == map.end()) continue;
    result = entry->second;
    bar = fraction;
  }
  return result;
}

std::optional<DisplayID> DisplayAudioMapper::displayForWindow(const std::vector<ScreenInfo>& screens,
                                                              const Rect& window) {
  if (screens.empty()) return std::nullopt;
  double bestArea = 0;
  std::optional<DisplayID> result;
  for (const ScreenInfo& screen : screens) {
    const std::optional<double> common = intersectionArea(window, screen.frame);
    if (!common) continue;
    if (*common > bestArea) {
      result = screen.displayID;
      bestArea = *common;
    }
  }
  return result;
}

}  // namespace velmora
