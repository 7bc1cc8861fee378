#pragma once

// The displays as Mutter's DisplayConfig describes them, as plain values, and
// the screens made from them. No D-Bus here: GnomeBus fills these from
// GetCurrentState, tests fill them by hand.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Screens.h"

namespace velmora::linuxos::gnome {

struct MutterMonitor {
  std::string connector;  // "DP-1", "HDMI-1", "Meta-0"
  std::string vendor;     // PnP code
  std::string product;    // the EDID monitor name
  std::string serial;
  // The current mode in physical pixels; none when the monitor is off.
  std::optional<std::int32_t> width;
  std::optional<std::int32_t> height;
  std::optional<std::string> displayName;  // Mutter's own ("Dell 27\"")
};

struct MutterLogicalMonitor {
  std::int32_t x = 0;
  std::int32_t y = 0;
  double scale = 1;
  std::uint32_t transform = 0;  // 0-3 rotations, 4-7 the same flipped
  bool primary = false;
  std::vector<std::string> connectors;  // more than one when mirrored
};

// How logical monitors and windows are measured: in logical pixels (the mode
// divided by the scale) or in physical pixels.
enum class LayoutMode : std::uint32_t { logical = 1, physical = 2 };

struct MutterState {
  std::vector<MutterMonitor> monitors;
  std::vector<MutterLogicalMonitor> logicalMonitors;
  LayoutMode layoutMode = LayoutMode::physical;
};

// One screen per logical monitor, in the global layout that window frames use,
// numbered by its connector's hash.
// Named by the EDID product name, else Mutter's display name, else the
// connector; monitors that would share a name are told apart by their
// connector ("DELL U2720Q (DP-2)"). Identified by vendor, product, serial and
// connector.
std::vector<PlatformScreen> screensFromState(const MutterState& state);

}  // namespace velmora::linuxos::gnome
