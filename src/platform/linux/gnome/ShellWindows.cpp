#include "platform/linux/gnome/ShellWindows.h"

namespace velmora::linuxos::gnome {

std::vector<WindowListEntry> windowEntries(const std::vector<ShellWindow>& windows, std::optional<Pid> owner) {
  std::vector<WindowListEntry> entries;
  for (const auto& w : windows) {
    if (w.width <= 0 || w.height <= 0) continue;
    if (owner && w.pid != *owner) continue;
    WindowListEntry entry;
    if (w.pid > 0) entry.ownerPID = PlatformValue{static_cast<std::int64_t>(w.pid)};
    entry.isOnscreen = PlatformValue{true};
    entry.bounds = PlatformValue{Rect{static_cast<double>(w.x), static_cast<double>(w.y), static_cast<double>(w.width),
                                      static_cast<double>(w.height)}};
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace velmora::linuxos::gnome
