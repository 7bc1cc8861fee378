#include "platform/linux/hyprland/HyprlandReplies.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "platform/linux/common/CompositorJson.h"

namespace velmora::linuxos::hyprland {
namespace {

using nlohmann::json;

std::optional<json> parseArray(std::string_view reply) {
  auto value = parseCompositorJson(reply);
  if (!value || !value->is_array()) return std::nullopt;
  return value;
}

// Integers as such, or doubles without a fraction; within ±2^53 either way.
std::optional<std::int64_t> integer(const json* value) {
  constexpr std::int64_t kLimit = std::int64_t{1} << 53;
  if (!value) return std::nullopt;
  if (value->is_number_integer() && !value->is_number_unsigned()) {
    const auto v = value->get<std::int64_t>();
    if (v < -kLimit || v > kLimit) return std::nullopt;
    return v;
  }
  if (value->is_number_unsigned()) {
    const auto v = value->get<std::uint64_t>();
    if (v > static_cast<std::uint64_t>(kLimit)) return std::nullopt;
    return static_cast<std::int64_t>(v);
  }
  if (value->is_number_float()) {
    const double v = value->get<double>();
    if (!std::isfinite(v) || std::trunc(v) != v || std::fabs(v) > static_cast<double>(kLimit)) return std::nullopt;
    return static_cast<std::int64_t>(v);
  }
  return std::nullopt;
}

// Coordinates and sizes in the range a layout can hold.
std::optional<std::int64_t> coordinate(const json* value) {
  constexpr std::int64_t kLimit = 1 << 24;
  auto v = integer(value);
  if (!v || *v < -kLimit || *v > kLimit) return std::nullopt;
  return v;
}

std::optional<double> number(const json* value) {
  if (!value || !value->is_number()) return std::nullopt;
  const double v = value->get<double>();
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<bool> boolean(const json* value) {
  if (!value || !value->is_boolean()) return std::nullopt;
  return value->get<bool>();
}

std::string text(const json* value) {
  if (!value || !value->is_string()) return {};
  std::string s = value->get<std::string>();
  const auto begin = s.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  return s.substr(begin, s.find_last_not_of(" \t\r\n") - begin + 1);
}

// "at": [x, y] and "size": [w, h].
std::optional<std::array<std::int64_t, 2>> pair(const json* value) {
  if (!value || !value->is_array() || value->size() != 2) return std::nullopt;
  auto a = coordinate(&(*value)[0]);
  auto b = coordinate(&(*value)[1]);
  if (!a || !b) return std::nullopt;
  return std::array<std::int64_t, 2>{*a, *b};
}

std::optional<std::int64_t> workspaceId(const json* workspace) {
  return workspace ? integer(jsonMember(*workspace, "id")) : std::nullopt;
}

Client readClient(const json& entry) {
  Client client;
  if (auto pid = integer(jsonMember(entry, "pid")); pid && *pid > 0 && *pid <= std::numeric_limits<Pid>::max())
    client.pid = static_cast<Pid>(*pid);
  const auto at = pair(jsonMember(entry, "at"));
  const auto size = pair(jsonMember(entry, "size"));
  if (at && size && (*size)[0] > 0 && (*size)[1] > 0) {
    client.rect = Rect{static_cast<double>((*at)[0]), static_cast<double>((*at)[1]), static_cast<double>((*size)[0]),
                       static_cast<double>((*size)[1])};
  }
  client.workspace = workspaceId(jsonMember(entry, "workspace"));
  client.focusHistory = integer(jsonMember(entry, "focusHistoryID"));
  client.mapped = boolean(jsonMember(entry, "mapped")).value_or(false);
  client.hidden = boolean(jsonMember(entry, "hidden")).value_or(false);
  client.windowClass = text(jsonMember(entry, "class"));
  return client;
}

std::optional<Rect> monitorFrame(const json& entry) {
  const auto x = coordinate(jsonMember(entry, "x"));
  const auto y = coordinate(jsonMember(entry, "y"));
  const auto width = coordinate(jsonMember(entry, "width"));
  const auto height = coordinate(jsonMember(entry, "height"));
  if (!x || !y || !width || !height || *width <= 0 || *height <= 0) return std::nullopt;
  // A scale outside what any compositor allows is read as no scaling.
  double scale = number(jsonMember(entry, "scale")).value_or(1.0);
  if (scale < 0.1 || scale > 10.0) scale = 1.0;
  double w = std::round(static_cast<double>(*width) / scale);
  double h = std::round(static_cast<double>(*height) / scale);
  // Transforms 1, 3, 5 and 7 turn the monitor a quarter.
  if (auto transform = integer(jsonMember(entry, "transform"));
      transform && *transform >= 0 && *transform <= 7 && *transform % 2 == 1) {
    std::swap(w, h);
  }
  if (w <= 0 || h <= 0) return std::nullopt;
  return Rect{static_cast<double>(*x), static_cast<double>(*y), w, h};
}

}  // namespace

std::optional<std::vector<Client>> parseClients(std::string_view reply) {
  auto array = parseArray(reply);
  if (!array) return std::nullopt;
  std::vector<Client> clients;
  for (const json& entry : *array) {
    if (entry.is_object()) clients.push_back(readClient(entry));
  }
  return clients;
}

std::optional<std::vector<Monitor>> parseMonitors(std::string_view reply) {
  auto array = parseArray(reply);
  if (!array) return std::nullopt;
  std::vector<Monitor> monitors;
  for (const json& entry : *array) {
    if (!entry.is_object() || boolean(jsonMember(entry, "disabled")).value_or(false)) continue;
    Monitor monitor;
    monitor.connector = text(jsonMember(entry, "name"));
    if (monitor.connector.empty()) continue;
    monitor.make = text(jsonMember(entry, "make"));
    monitor.model = text(jsonMember(entry, "model"));
    monitor.serial = text(jsonMember(entry, "serial"));
    monitor.description = text(jsonMember(entry, "description"));
    monitor.frame = monitorFrame(entry);
    monitor.activeWorkspace = workspaceId(jsonMember(entry, "activeWorkspace"));
    monitor.specialWorkspace = workspaceId(jsonMember(entry, "specialWorkspace"));
    monitors.push_back(std::move(monitor));
  }
  return monitors;
}

std::optional<Event> parseEventLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const auto separator = line.find(">>");
  if (separator == std::string_view::npos || separator == 0) return std::nullopt;
  const std::string_view name = line.substr(0, separator);
  const bool plain = std::all_of(name.begin(), name.end(),
                                 [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'; });
  if (!plain) return std::nullopt;
  return Event{name, line.substr(separator + 2)};
}

bool eventChangesDesktop(std::string_view name) {
  static constexpr std::array<std::string_view, 27> kEvents = {
      "openwindow",       "closewindow",        "movewindow",      "movewindowv2", "activewindow",   "activewindowv2",
      "workspace",        "workspacev2",        "focusedmon",      "focusedmonv2", "moveworkspace",  "moveworkspacev2",
      "destroyworkspace", "activespecial",      "activespecialv2", "monitoradded", "monitoraddedv2", "monitorremoved",
      "monitorremovedv2", "changefloatingmode", "fullscreen",      "pin",          "minimized",      "togglegroup",
      "moveintogroup",    "moveoutofgroup",     "configreloaded",
  };
  return std::find(kEvents.begin(), kEvents.end(), name) != kEvents.end();
}

}  // namespace velmora::linuxos::hyprland
