#pragma once

// The pure part of the sway back end: replies and events as sway sends them,
// turned into the window list. Kept free of sockets so recorded replies can
// be tested.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Windows.h"
#include "platform/linux/proc/ProcApplications.h"

namespace velmora::linuxos {

struct SwayWindows {
  // On-screen windows front to back: the focused window, then fullscreen
  // windows, then floating windows top first, then tiled windows. Tiled
  // windows do not overlap, so this order is enough to tell what is in front.
  std::vector<WindowListEntry> onScreen;
  // Every window's process, on screen or not, with its app id or X class.
  WindowOwners owners;
};

// The windows of a get_tree reply; none when the reply is not a tree. Odd
// values inside a tree (a missing pid, a rectangle that cannot be) leave that
// field out rather than the whole window.
std::optional<SwayWindows> swayWindowsFromTree(std::string_view json);

// Whether an event can change what is on screen or where; title changes and
// the like cannot, so the tree is not read again for them.
bool swayEventMayMoveWindows(std::uint32_t type, std::string_view payload);

// The compositor's version from a get_version reply, when it can be shown.
std::optional<std::string> swayVersion(std::string_view json);

}  // namespace velmora::linuxos
