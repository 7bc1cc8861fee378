#pragma once

// Hyprland's IPC replies and event lines read into plain values. Anything
// missing, of the wrong type or out of range becomes an absent value; a reply
// that is not the expected JSON at all gives none.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Types.h"

namespace velmora::linuxos::hyprland {

// One entry of `j/clients`.
struct Client {
  std::optional<Pid> pid;
  // Global layout coordinates, from "at" and "size"; none unless the size is positive.
  std::optional<Rect> rect;
  std::optional<std::int64_t> workspace;
  // 0 is the focused window; higher was focused longer ago.
  std::optional<std::int64_t> focusHistory;
  bool mapped = false;
  bool hidden = false;
  std::string windowClass;
};

// One entry of `j/monitors`.
struct Monitor {
  std::string connector;  // "name", such as DP-2
  std::string make;
  std::string model;
  std::string serial;
  std::string description;
  // Logical layout coordinates: position as given, mode size divided by the
  // scale, width and height swapped for a quarter turn.
  std::optional<Rect> frame;
  std::optional<std::int64_t> activeWorkspace;
  // 0 or none when no special workspace is open.
  std::optional<std::int64_t> specialWorkspace;
};

std::optional<std::vector<Client>> parseClients(std::string_view reply);
// Monitors without a connector name, and disabled ones, are left out.
std::optional<std::vector<Monitor>> parseMonitors(std::string_view reply);

// One line of the event socket, "EVENT>>DATA", without its newline.
struct Event {
  std::string_view name;
  std::string_view data;
};
std::optional<Event> parseEventLine(std::string_view line);

// Whether an event can change the windows on screen or the monitors; title
// changes and input events cannot.
bool eventChangesDesktop(std::string_view name);

}  // namespace velmora::linuxos::hyprland
