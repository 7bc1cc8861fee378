#pragma once

// The pure part of the window list: given the replies gathered for each
// window, decide whether and how it enters the list. Kept free of xcb so it
// can be tested with made-up replies.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Windows.h"

namespace velmora::linuxos {

// Predefined atoms of the core protocol.
inline constexpr std::uint32_t kAtomAtom = 4;
inline constexpr std::uint32_t kAtomCardinal = 6;
inline constexpr std::uint32_t kAtomWindow = 33;

// A property as GetProperty returns it; none when the property is absent.
struct PropertyReply {
  std::uint32_t type = 0;
  std::uint8_t format = 0;
  std::vector<std::uint8_t> data;
};

// The 32-bit items of a property of the expected type; none for a missing
// property, another type or format, or a length that is not whole items.
std::optional<std::vector<std::uint32_t>> items32(const std::optional<PropertyReply>& property,
                                                  std::uint32_t expectedType);

struct WindowReplies {
  std::uint32_t window = 0;
  // Any of these missing means the window vanished while it was read.
  std::optional<bool> viewable;
  std::optional<std::uint32_t> width;
  std::optional<std::uint32_t> height;
  std::optional<std::int32_t> rootX;  // the client area's origin translated to the root
  std::optional<std::int32_t> rootY;
  std::optional<PropertyReply> netWmPid;
  std::optional<PropertyReply> netWmState;
  std::optional<PropertyReply> netWmDesktop;
  std::optional<PropertyReply> gtkFrameExtents;
  std::optional<std::uint32_t> clientPid;  // from the X-Resource extension
  // The client pid as its own pid namespace numbers it, looked up only when
  // it differs from _NET_WM_PID.
  std::optional<std::uint32_t> clientPidInsideSandbox;
};

struct DesktopState {
  std::optional<std::uint32_t> currentDesktop;
  std::uint32_t hiddenAtom = 0;  // _NET_WM_STATE_HIDDEN
};

inline constexpr std::uint32_t kAllDesktops = 0xFFFFFFFF;

// The owner pid: _NET_WM_PID, else the X-Resource client pid. A sandboxed
// client (Flatpak) writes its pid inside the sandbox into _NET_WM_PID; when
// that is the X-Resource client's pid inside its namespace, the latter, the
// pid everything else on the desktop knows it by, is the owner.
std::optional<std::uint32_t> windowOwnerPid(const WindowReplies& w);

// Viewable, not hidden, and on the current desktop or on all of them.
bool windowIsOnscreen(const WindowReplies& w, const DesktopState& desktop);

// The client area in root coordinates less the client-side shadows of
// _GTK_FRAME_EXTENTS; extents that would leave nothing are ignored.
std::optional<Rect> windowBounds(const WindowReplies& w);

// The list entry, or none for a window that vanished mid-read.
std::optional<WindowListEntry> windowEntry(const WindowReplies& w, const DesktopState& desktop);

inline constexpr std::uint32_t kAtomString = 31;

// The class part of WM_CLASS ("instance\0class\0"), when it is displayable text.
std::optional<std::string> windowClassName(const std::optional<PropertyReply>& wmClass);

// Stacking lists run bottom to top; the window list runs front to back.
std::vector<std::uint32_t> topFirst(std::vector<std::uint32_t> bottomFirst);

}  // namespace velmora::linuxos
