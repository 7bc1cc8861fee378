#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace velmora::linuxos {

// The monitor's product name (display descriptor 0xFC) from an EDID blob, with
// its padding and line-feed terminator removed. A blob that is short, has a
// wrong header or checksum, or names nothing gives none.
std::optional<std::string> edidProductName(std::span<const std::uint8_t> edid);

}  // namespace velmora::linuxos
