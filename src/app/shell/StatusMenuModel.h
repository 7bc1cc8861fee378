#pragma once

// The status menu as plain data: what each of its nine items shows. The menu
// is computed afresh from the shell's state at every redraw, and only the
// differences reach the real menu, so the tray host sees no churn while the
// routing status repeats itself twice a second.

#include <array>
#include <cstddef>
#include <optional>
#include <string>

namespace velmora::app {

struct MenuItemState {
  std::string title;
  bool separator = false;
  bool enabled = true;
  bool checkable = false;
  bool checked = false;
  bool visible = true;

  friend bool operator==(const MenuItemState&, const MenuItemState&) = default;
};

// Positions of the nine items, top to bottom.
enum StatusMenuItem : std::size_t {
  kStatusLine = 0,
  kFirstSeparator,
  kAbout,
  kDiagnostics,
  kCheckForUpdates,
  kLaunchAtLogin,
  kSendCrashReports,
  kSecondSeparator,
  kQuit,
  kStatusMenuItemCount,
};

struct StatusMenuModel {
  std::array<MenuItemState, kStatusMenuItemCount> items;

  friend bool operator==(const StatusMenuModel&, const StatusMenuModel&) = default;
};

struct StatusMenuInputs {
  std::string lastMessage;
  // Alt held as the menu opened: the diagnostics item stands in for About.
  bool altHeld = false;
  bool canCheckForUpdates = false;
  bool launchAtLoginEnabled = false;
  bool crashReportingEnabled = false;
};

StatusMenuModel statusMenuModel(const StatusMenuInputs& inputs);

// "Velmora — " and the message.
std::string statusItemAccessibleDescription(const std::string& lastMessage);

// Receives the changes of one item; the Qt menu implements it.
class MenuTarget {
 public:
  virtual ~MenuTarget() = default;
  virtual void setTitle(std::size_t index, const std::string& title) = 0;
  virtual void setEnabled(std::size_t index, bool enabled) = 0;
  virtual void setChecked(std::size_t index, bool checked) = 0;
  virtual void setVisible(std::size_t index, bool visible) = 0;
};

// Sends target the properties in which next differs from shown (everything
// when nothing is shown yet) and returns how many it sent. Separators and
// checkability are fixed when the menu is made and never change.
std::size_t applyMenuChanges(const std::optional<StatusMenuModel>& shown, const StatusMenuModel& next,
                             MenuTarget& target);

}  // namespace velmora::app
