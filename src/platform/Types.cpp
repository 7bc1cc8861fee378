#include "platform/Types.h"

#include <charconv>

namespace velmora {

namespace {
std::string shortest(double v) {
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? std::string(buf, end) : std::string("nan");
}
}  // namespace

std::string describe(const Rect& r) {
  return "(" + shortest(r.x) + ", " + shortest(r.y) + ", " + shortest(r.width) + ", " + shortest(r.height) + ")";
}

}  // namespace velmora
