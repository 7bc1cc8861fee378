#pragma once

// The pure part of the Wayland screen list: what the compositor said about
// each output, turned into screens. Kept free of libwayland so it can be
// tested with made-up outputs.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Screens.h"

namespace velmora::linuxos {

struct WaylandOutputInfo {
  // The connector ("DP-2", "HDMI-A-1"), from xdg-output or wl_output v4.
  std::string connector;
  std::string make;
  std::string model;  // the EDID monitor name where the compositor passes it on
  std::string description;
  // The frame in the global logical layout, the space of window rectangles;
  // none until the compositor has said where the output is.
  std::optional<Rect> logical;
  // Only where the compositor's own interface tells it (not wl_output).
  std::string serial = {};
};

// Gives each connector one id for the life of the process, so a monitor that
// is unplugged and plugged back into the same connector keeps its id. Ids
// derive from the connector's name, so they also hold across restarts.
class ConnectorIds {
 public:
  std::uint32_t idFor(const std::string& connector);

 private:
  std::map<std::string, std::uint32_t> ids_;
};

// The model, else the description, else the connector; placeholders such as
// "Unknown" and text that cannot be shown do not count.
std::string outputDisplayName(const WaylandOutputInfo& output);

// Outputs with a logical frame, in the order given. Outputs that share a name
// get their connector appended: "DELL U2720Q (DP-2)". Each is identified by
// its make, model, serial where known, and connector.
std::vector<PlatformScreen> screensFromOutputs(const std::vector<WaylandOutputInfo>& outputs, ConnectorIds& ids);

}  // namespace velmora::linuxos
