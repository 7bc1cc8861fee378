#pragma once

// The pure part of the screen list: one RandR monitor, as its replies came
// back, turned into a screen.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Screens.h"

namespace velmora::linuxos {

struct MonitorReplies {
  std::uint32_t nameAtom = 0;
  std::optional<std::string> name;  // the atom's name
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint32_t> outputs;
  std::optional<std::vector<std::uint8_t>> firstOutputEdid;
  std::optional<std::string> firstOutputName;  // its connector, as HDMI-1
};

// Screen number: the first output, else the name atom. Name: the EDID product
// name, else the monitor's own name. Identity: from the EDID, and the first
// output's name as the connector, else the monitor's name (a monitor made
// without an output has no other).
PlatformScreen screenFromMonitor(const MonitorReplies& monitor);

}  // namespace velmora::linuxos
