#include "platform/linux/hyprland/HyprlandRules.h"

#include <algorithm>
#include <limits>
#include <set>

namespace velmora::linuxos::hyprland {

std::vector<WindowListEntry> onScreenWindows(const std::vector<Client>& clients, const std::vector<Monitor>& monitors) {
  std::set<std::int64_t> regular;
  std::set<std::int64_t> special;
  for (const Monitor& monitor : monitors) {
    if (monitor.activeWorkspace) regular.insert(*monitor.activeWorkspace);
    if (monitor.specialWorkspace && *monitor.specialWorkspace != 0) special.insert(*monitor.specialWorkspace);
  }

  struct Shown {
    const Client* client;
    bool onSpecial;
  };
  std::vector<Shown> shown;
  for (const Client& client : clients) {
    if (!client.mapped || client.hidden || !client.workspace) continue;
    const bool onSpecial = special.contains(*client.workspace);
    if (onSpecial || regular.contains(*client.workspace)) shown.push_back({&client, onSpecial});
  }
  // Windows without a focus history go last, in the compositor's order.
  static constexpr auto kNever = std::numeric_limits<std::int64_t>::max();
  std::stable_sort(shown.begin(), shown.end(), [](const Shown& a, const Shown& b) {
    if (a.onSpecial != b.onSpecial) return a.onSpecial;
    const auto ha = a.client->focusHistory.value_or(kNever);
    const auto hb = b.client->focusHistory.value_or(kNever);
    return (ha < 0 ? kNever : ha) < (hb < 0 ? kNever : hb);
  });

  std::vector<WindowListEntry> entries;
  entries.reserve(shown.size());
  for (const Shown& s : shown) {
    WindowListEntry entry;
    if (s.client->pid) entry.ownerPID = PlatformValue{static_cast<std::int64_t>(*s.client->pid)};
    entry.isOnscreen = PlatformValue{true};
    if (s.client->rect) entry.bounds = PlatformValue{*s.client->rect};
    entries.push_back(std::move(entry));
  }
  return entries;
}

WindowOwners windowOwners(const std::vector<Client>& clients) {
  WindowOwners owners;
  for (const Client& client : clients) {
    if (client.mapped && client.pid) owners.emplace(*client.pid, client.windowClass);
  }
  return owners;
}

std::vector<PlatformScreen> screens(const std::vector<Monitor>& monitors, ConnectorIds& ids) {
  std::vector<WaylandOutputInfo> outputs;
  outputs.reserve(monitors.size());
  for (const Monitor& monitor : monitors)
    outputs.push_back(
        {monitor.connector, monitor.make, monitor.model, monitor.description, monitor.frame, monitor.serial});
  return screensFromOutputs(outputs, ids);
}

}  // namespace velmora::linuxos::hyprland
