#include "platform/PlatformValue.h"

#include <cmath>
#include <limits>

namespace velmora {

namespace {

template <class Int>
std::optional<Int> toInteger(const std::optional<PlatformValue>& value) {
  if (!value) return std::nullopt;
  constexpr auto lo = static_cast<double>(std::numeric_limits<Int>::min());
  constexpr auto hi = static_cast<double>(std::numeric_limits<Int>::max());
  if (const auto* i = std::get_if<std::int64_t>(&*value)) {
    if (static_cast<double>(*i) < lo || static_cast<double>(*i) > hi) return std::nullopt;
    if (*i < static_cast<std::int64_t>(std::numeric_limits<Int>::min()) ||
        *i > static_cast<std::int64_t>(std::numeric_limits<Int>::max()))
      return std::nullopt;
    return static_cast<Int>(*i);
  }
  if (const auto* d = std::get_if<double>(&*value)) {
    if (!std::isfinite(*d) || std::trunc(*d) != *d || *d < lo || *d > hi) return std::nullopt;
    return static_cast<Int>(*d);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::uint32_t> toUInt32(const std::optional<PlatformValue>& value) {
  return toInteger<std::uint32_t>(value);
}

std::optional<std::int32_t> toInt32(const std::optional<PlatformValue>& value) {
  return toInteger<std::int32_t>(value);
}

std::optional<bool> toBool(const std::optional<PlatformValue>& value) {
  if (!value) return std::nullopt;
  if (const auto* b = std::get_if<bool>(&*value)) return *b;
  return std::nullopt;
}

std::optional<Rect> toRect(const std::optional<PlatformValue>& value) {
  if (!value) return std::nullopt;
  const auto* r = std::get_if<Rect>(&*value);
  if (!r) return std::nullopt;
  if (!std::isfinite(r->x) || !std::isfinite(r->y) || !std::isfinite(r->width) || !std::isfinite(r->height))
    return std::nullopt;
  return *r;
}

}  // namespace velmora
