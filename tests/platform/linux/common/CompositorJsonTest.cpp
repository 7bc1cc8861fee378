#include "platform/linux/common/CompositorJson.h"

#include <gtest/gtest.h>

namespace velmora::linuxos {
namespace {

std::string nested(int depth) {
  return std::string(static_cast<std::size_t>(depth), '[') + std::string(static_cast<std::size_t>(depth), ']');
}

TEST(CompositorJson, ParsedOnlyWithinOneSizeAndNestingLimit) {
  struct Case {
    const char* what;
    std::string text;
    bool parsed;
  };
  const std::vector<Case> cases = {
      {"as deep as allowed", nested(kMaxCompositorJsonNesting), true},
      {"one level deeper", nested(kMaxCompositorJsonNesting + 1), false},
      {"far deeper, without exhausting the stack", nested(200000), false},
      {"brackets and escaped quotes in strings are text", R"(["\"[[[", "\\", ")" + nested(1000) + R"("])", true},
      {"not JSON", "unknown request", false},
      {"cut short", "[1, 2", false},
      {"too long", "[" + std::string(kMaxCompositorJsonBytes, ' ') + "]", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(parseCompositorJson(c.text).has_value(), c.parsed) << c.what;
}

}  // namespace
}  // namespace velmora::linuxos
