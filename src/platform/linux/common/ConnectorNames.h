#pragma once

// How every session back end numbers and names displays by their connector
// ("DP-2", "HDMI-A-1"): a number derived from the connector's name, so a
// display keeps it across reconnections and restarts, and the connector
// appended to names that two displays share.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Screens.h"

namespace velmora::linuxos {

// FNV-1a of the connector's name.
std::uint32_t connectorHash(std::string_view connector);

// connectors[i] is the connector of screens[i]. A name that two or more
// screens share gets its connector appended: "DELL U2720Q (DP-2)". A screen
// named after its connector already, or without one, keeps its name.
void appendSharedConnectors(std::vector<PlatformScreen>& screens, const std::vector<std::string>& connectors);

}  // namespace velmora::linuxos
