#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/Screens.h"

namespace velmora::linuxos {

// The monitor's product name (display descriptor 0xFC) from an EDID blob, with
// its padding and line-feed terminator removed. A blob that is short, has a
// wrong header or checksum, or names nothing gives none.
std::optional<std::string> edidProductName(std::span<const std::uint8_t> edid);

// Who the monitor is: its maker's three-letter PnP id, its model (the product
// name, else the product code as four hex digits) and its serial (the serial
// descriptor 0xFF, else the serial number when not 0). Nothing for a blob the
// name would not be read from either; the connector is left to the caller.
DisplayIdentity edidIdentity(std::span<const std::uint8_t> edid);

}  // namespace velmora::linuxos
