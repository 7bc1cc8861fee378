#pragma once

// What the platform seam sees of Hyprland's clients and monitors.

#include <string>
#include <vector>

#include "platform/Screens.h"
#include "platform/Windows.h"
#include "platform/linux/hyprland/HyprlandReplies.h"
#include "platform/linux/proc/ProcApplications.h"
#include "platform/linux/wayland/OutputRules.h"

namespace velmora::linuxos::hyprland {

// Mapped, unhidden windows on a workspace some monitor shows, front to back:
// an open special workspace lies over its monitor's regular one, and within
// each the most recently focused window comes first.
std::vector<WindowListEntry> onScreenWindows(const std::vector<Client>& clients, const std::vector<Monitor>& monitors);

// pid → window class of every mapped window's owner.
WindowOwners windowOwners(const std::vector<Client>& clients);

// Screens in Hyprland's order, named and numbered as any Wayland output is.
std::vector<PlatformScreen> screens(const std::vector<Monitor>& monitors, ConnectorIds& ids);

}  // namespace velmora::linuxos::hyprland
