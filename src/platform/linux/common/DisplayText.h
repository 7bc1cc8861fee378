#pragma once

// Names that come from outside (EDID blobs, compositors, window properties)
// are shown to the user only when they are plain text.

#include <cstddef>
#include <optional>
#include <string>

namespace velmora::linuxos {

// Text as it may be shown: valid UTF-8 without control characters, else none.
std::optional<std::string> displayableText(std::string text, std::size_t maxBytes = 256);

}  // namespace velmora::linuxos
