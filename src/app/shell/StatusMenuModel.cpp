#include "app/shell/StatusMenuModel.h"

namespace velmora::app {

namespace {

MenuItemState action(std::string title) {
  MenuItemState item;
  item.title = std::move(title);
  return item;
}

MenuItemState separator() {
  MenuItemState item;
  item.separator = true;
  return item;
}

MenuItemState toggle(std::string title, bool checked) {
  MenuItemState item = action(std::move(title));
  item.checkable = true;
  item.checked = checked;
  return item;
}

}  // namespace

StatusMenuModel statusMenuModel(const StatusMenuInputs& inputs) {
  StatusMenuModel model;
  auto& items = model.items;

  items[kStatusLine] = action(inputs.lastMessage);
  items[kStatusLine].enabled = false;  // information only

  items[kFirstSeparator] = separator();

  items[kAbout] = action("About Velmora");
  items[kAbout].visible = !inputs.altHeld;
  items[kDiagnostics] = action("Show diagnostics\u2026");
  items[kDiagnostics].visible = inputs.altHeld;

  items[kCheckForUpdates] = action("Check for Updates\u2026");
  items[kCheckForUpdates].enabled = inputs.canCheckForUpdates;

  items[kLaunchAtLogin] = toggle("Launch at login", inputs.launchAtLoginEnabled);
  items[kSendCrashReports] = toggle("Send crash reports", inputs.crashReportingEnabled);

  items[kSecondSeparator] = separator();
  items[kQuit] = action("Quit Velmora");
  return model;
}

std::string statusItemAccessibleDescription(const std::string& lastMessage) {
  return "Velmora \u2014 " + lastMessage;
}

std::size_t applyMenuChanges(const std::optional<StatusMenuModel>& shown, const StatusMenuModel& next,
                             MenuTarget& target) {
  std::size_t changes = 0;
  for (std::size_t i = 0; i < next.items.size(); ++i) {
    const MenuItemState& to = next.items[i];
    const MenuItemState* from = shown ? &shown->items[i] : nullptr;
    if (!from || from->title != to.title) {
      target.setTitle(i, to.title);
      ++changes;
    }
    if (!from || from->enabled != to.enabled) {
      target.setEnabled(i, to.enabled);
      ++changes;
    }
    if (to.checkable && (!from || from->checked != to.checked)) {
      target.setChecked(i, to.checked);
      ++changes;
    }
    if (!from || from->visible != to.visible) {
      target.setVisible(i, to.visible);
      ++changes;
    }
  }
  return changes;
}

}  // namespace velmora::app
