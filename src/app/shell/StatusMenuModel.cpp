#include "app/shell/StatusMenuModel.h"

namespace velmora::app {

namespace {

MenuItemState action(std::string id, std::string title) {
  MenuItemState item;
  item.id = std::move(id);
  item.title = std::move(title);
  return item;
}

MenuItemState separator(std::string id) {
  MenuItemState item;
  item.id = std::move(id);
  item.type = MenuItemType::separator;
  return item;
}

MenuItemState toggle(std::string id, std::string title, bool checked) {
  MenuItemState item = action(std::move(id), std::move(title));
  item.checkable = true;
  item.checked = checked;
  return item;
}

}  // namespace

StatusMenuModel statusMenuModel(const StatusMenuInputs& inputs) {
  StatusMenuModel model;
  model.status = inputs.status;
  model.message = inputs.lastMessage;
  model.iconName = statusIconName(inputs.status);
  model.accessibleDescription = statusItemAccessibleDescription(inputs.lastMessage);

  MenuItemState status = action(menu_id::kStatus, inputs.lastMessage);
  status.enabled = false;  // information only
  MenuItemState diagnostics = action(menu_id::kDiagnostics, "Show diagnostics\u2026");
  diagnostics.alternate = true;
  MenuItemState updates = action(menu_id::kCheckForUpdates, "Check for Updates\u2026");
  updates.enabled = inputs.canCheckForUpdates;

  model.items = {
      std::move(status),
      separator("after-status"),
      action(menu_id::kAbout, "About Velmora"),
      std::move(diagnostics),
      std::move(updates),
      toggle(menu_id::kLaunchAtLogin, "Launch at login", inputs.launchAtLoginEnabled),
      toggle(menu_id::kSendCrashReports, "Send crash reports", inputs.crashReportingEnabled),
      separator("before-quit"),
      action(menu_id::kQuit, "Quit Velmora"),
  };
  return model;
}

std::string statusItemAccessibleDescription(const std::string& lastMessage) {
  return "Velmora \u2014 " + lastMessage;
}

const char* statusIconName(RoutingStatus status) {
  switch (status) {
    case RoutingStatus::tracking:
      return "MenuBarIcon";
    case RoutingStatus::override:
      return "MenuBarIcon-override";
    case RoutingStatus::external:
      return "MenuBarIcon-external";
    case RoutingStatus::idle:
      break;
  }
  return "MenuBarIcon-idle";
}

}  // namespace velmora::app
