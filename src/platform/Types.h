#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// Process ids are signed 32-bit, as on every platform we run on.
using Pid = std::int32_t;

// Display id: the platform's unsigned 32-bit screen number.
using DisplayID = std::uint32_t;

// Seconds on a monotonic clock from an arbitrary origin; only differences
// are ever used.
using Timestamp = double;

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  friend bool operator==(const Rect&, const Rect&) = default;
};

// "(x, y, w, h)" with the shortest text that round-trips each value.
std::string describe(const Rect& r);

}  // namespace velmora
