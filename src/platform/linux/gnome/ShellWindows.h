#pragma once

// The window list as the Shell extension reports it, turned into the
// platform's window list.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Windows.h"

namespace velmora::linuxos::gnome {

// One entry of Windows(): pid (-1 or 0 when the Shell does not know it) and
// the frame in the global layout.
struct ShellWindow {
  std::int32_t pid = 0;
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;

  friend bool operator==(const ShellWindow&, const ShellWindow&) = default;
};

// Front to back, as given. Windows without area are left out; a window
// without a known pid stays in the list (it still hides the ones behind it)
// without an owner. With owner set, only that process's windows are kept.
std::vector<WindowListEntry> windowEntries(const std::vector<ShellWindow>& windows,
                                           std::optional<Pid> owner = std::nullopt);

}  // namespace velmora::linuxos::gnome
