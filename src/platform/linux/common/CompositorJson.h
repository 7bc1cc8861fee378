#pragma once

// JSON that a compositor, or anyone posing as one, sends us: parsed only
// within one size and nesting limit shared by every back end, so a hostile
// reply costs neither unbounded memory nor stack.

#include <cstddef>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace velmora::linuxos {

// Far above any real reply (sway's tree of a few thousand windows is a few
// megabytes); sway nests two levels per split container, so a deep layout
// stays well inside the nesting limit too.
inline constexpr std::size_t kMaxCompositorJsonBytes = 16u << 20;
inline constexpr int kMaxCompositorJsonNesting = 512;

// Whether arrays and objects nest no deeper than limit; strings are skipped.
bool jsonNestingWithin(std::string_view text, int limit = kMaxCompositorJsonNesting);

// The parsed value; none for text that is not JSON or exceeds the limits.
std::optional<nlohmann::json> parseCompositorJson(std::string_view text,
                                                  std::size_t maxBytes = kMaxCompositorJsonBytes);

// The member of an object; null when value is no object or lacks it.
const nlohmann::json* jsonMember(const nlohmann::json& value, const char* key);

}  // namespace velmora::linuxos
