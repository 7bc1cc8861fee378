#pragma once

// What the platform seam sees of Hyprland's clients and monitors.

#include <map>
#include <string>
#include <vector>

#include "platform/Screens.h"
#include "platform/Windows.h"
#include "platform/linux/hyprland/HyprlandReplies.h"
#include "platform/linux/proc/ProcApplications.h"

namespace velmora::linuxos::hyprland {

// Mapped, unhidden windows on a workspace some monitor shows, front to back:
// an open special workspace lies over its monitor's regular one, and within
// each the most recently focused window comes first.
std::vector<WindowListEntry> onScreenWindows(const std::vector<Client>& clients, const std::vector<Monitor>& monitors);

// pid → window class of every mapped window's owner.
WindowOwners windowOwners(const std::vector<Client>& clients);

// Display numbers handed out per connector name for the life of the process,
// so that a monitor unplugged and plugged again keeps its number.
class ConnectorIds {
 public:
  DisplayID idFor(const std::string& connector);

 private:
  std::map<std::string, DisplayID> ids_;
};

// Screens in Hyprland's order. A monitor is named by its model, else its
// description, else its connector; names shared by several monitors get the
// connector appended. Monitors without a usable frame are left out.
std::vector<PlatformScreen> screens(const std::vector<Monitor>& monitors, ConnectorIds& ids);

}  // namespace velmora::linuxos::hyprland
