#pragma once

// Checks and clean-ups for the texts a sound server hands us: stream and
// device properties come from arbitrary clients and drivers.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Types.h"

namespace velmora::linuxos::pulse {

// Longest text we pass on, in bytes; longer ones are cut at a character
// boundary.
constexpr std::size_t kMaxTextBytes = 1024;

// Valid UTF-8 of at most kMaxTextBytes: each invalid sequence (stray or
// truncated bytes, overlong forms, surrogates, values past U+10FFFF) becomes
// U+FFFD.
std::string validUtf8(std::string_view text);

// Without leading and trailing white space and control characters (EDID and
// ELD names are padded with spaces or line feeds).
std::string_view trimPadding(std::string_view text);

// A process id written as plain decimal digits, 1 to 2^31-1; anything else
// (signs, spaces, other characters, overflow, 0) is none.
std::optional<Pid> parsePid(std::string_view text);

}  // namespace velmora::linuxos::pulse
