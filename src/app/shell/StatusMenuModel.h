#pragma once

// Velmora's status menu as plain data: the routing status it shows, the icon
// that goes with it, and the items, computed afresh from the shell's state at
// every redraw. The tray menu and the menu offered to GNOME Shell's top bar
// are both drawn from it.

#include <string>

#include "app/shell/MenuTree.h"
#include "routing/RoutingStatus.h"

namespace velmora::app {

// The ids of the status menu's items; activation names them.
namespace menu_id {
inline constexpr const char* kStatus = "status";
inline constexpr const char* kAbout = "about";
inline constexpr const char* kDiagnostics = "diagnostics";
inline constexpr const char* kCheckForUpdates = "check-for-updates";
inline constexpr const char* kLaunchAtLogin = "launch-at-login";
inline constexpr const char* kSendCrashReports = "send-crash-reports";
inline constexpr const char* kQuit = "quit";
}  // namespace menu_id

struct StatusMenuModel {
  RoutingStatus status = RoutingStatus::idle;
  std::string message;
  // The image for the status, by name (statusIconName).
  std::string iconName;
  std::string accessibleDescription;
  MenuItems items;

  friend bool operator==(const StatusMenuModel&, const StatusMenuModel&) = default;
};

struct StatusMenuInputs {
  RoutingStatus status = RoutingStatus::idle;
  std::string lastMessage;
  bool canCheckForUpdates = false;
  bool launchAtLoginEnabled = false;
  bool crashReportingEnabled = false;
};

StatusMenuModel statusMenuModel(const StatusMenuInputs& inputs);

// "Velmora — " and the message.
std::string statusItemAccessibleDescription(const std::string& lastMessage);

// The image of each status: "MenuBarIcon" while a player is followed, a
// variant of it for the other kinds. The tray takes it from the program's
// resources, the Shell extension from its own copy of the same files.
const char* statusIconName(RoutingStatus status);

}  // namespace velmora::app
