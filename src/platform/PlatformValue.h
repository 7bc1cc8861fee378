#pragma once

// A value under a key of a back end's record (a window-list entry, a screen).
// Any type may come under any key, so readers check the type and convert
// strictly.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "platform/Types.h"

namespace velmora {

using PlatformValue = std::variant<std::int64_t, double, bool, std::string, Rect>;

// An integer (or an integral double) in [0, 2^32); anything else is none.
std::optional<std::uint32_t> toUInt32(const std::optional<PlatformValue>& value);
// An integer (or an integral double) in the signed 32-bit range.
std::optional<std::int32_t> toInt32(const std::optional<PlatformValue>& value);
// Only a boolean converts.
std::optional<bool> toBool(const std::optional<PlatformValue>& value);
// Only a rectangle with finite fields converts.
std::optional<Rect> toRect(const std::optional<PlatformValue>& value);

}  // namespace velmora
