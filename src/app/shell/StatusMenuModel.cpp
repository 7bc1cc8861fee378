#include "app/shell/StatusMenuModel.h"

#include <charconv>

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

constexpr std::string_view kSpeakersPrefix = "speakers.";
constexpr std::string_view kAutomatic = "auto";

template <typename T>
std::optional<T> decimal(std::string_view text) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::string deviceName(const DisplaySpeakers& speakers, AudioDeviceID id) {
  for (const SpeakerDevice& device : speakers.devices) {
    if (device.id == id) return device.name;
  }
  return "device " + std::to_string(id);
}

// "Speakers for DISPLAY": automatic pairing first, naming the device the
// display's name picks, then every device; the pairing in force is checked.
MenuItemState speakersMenu(const DisplaySpeakersEntry& display, const DisplaySpeakers& speakers) {
  MenuItemState menu = action("speakers." + std::to_string(display.displayID), "Speakers for " + display.name);
  menu.type = MenuItemType::submenu;
  const bool chosen = display.pairing && display.pairing->basis == PairingBasis::userChoice;

  std::string automaticTitle = "Automatic (by name)";
  if (display.automatic) automaticTitle += " \u2192 " + deviceName(speakers, *display.automatic);
  menu.children.push_back(toggle(speakerPickId({display.displayID, std::nullopt}), automaticTitle, !chosen));
  for (const SpeakerDevice& device : speakers.devices) {
    MenuItemState entry = toggle(speakerPickId({display.displayID, device.id}), device.name,
                                 chosen && display.pairing->device == device.id);
    // Without a stable name a choice could not be kept.
    entry.enabled = device.uid.has_value();
    menu.children.push_back(std::move(entry));
  }
  return menu;
}

}  // namespace

std::string speakerPickId(const SpeakerPick& pick) {
  return std::string(kSpeakersPrefix) + std::to_string(pick.display) + "." +
         (pick.device ? std::to_string(*pick.device) : std::string(kAutomatic));
}

std::optional<SpeakerPick> speakerPickFromId(const std::string& id) {
  std::string_view rest(id);
  if (!rest.starts_with(kSpeakersPrefix)) return std::nullopt;
  rest.remove_prefix(kSpeakersPrefix.size());
  const auto dot = rest.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const auto display = decimal<DisplayID>(rest.substr(0, dot));
  const std::string_view target = rest.substr(dot + 1);
  if (!display) return std::nullopt;
  if (target == kAutomatic) return SpeakerPick{*display, std::nullopt};
  const auto device = decimal<AudioDeviceID>(target);
  if (!device) return std::nullopt;
  return SpeakerPick{*display, *device};
}

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

  model.items = {std::move(status), separator("after-status")};
  for (const DisplaySpeakersEntry& display : inputs.speakers.displays)
    model.items.push_back(speakersMenu(display, inputs.speakers));
  if (!inputs.speakers.displays.empty()) model.items.push_back(separator("after-speakers"));
  model.items.insert(model.items.end(),
                     {
                         action(menu_id::kAbout, "About Velmora"),
                         std::move(diagnostics),
                         std::move(updates),
                         toggle(menu_id::kLaunchAtLogin, "Launch at login", inputs.launchAtLoginEnabled),
                         toggle(menu_id::kSendCrashReports, "Send crash reports", inputs.crashReportingEnabled),
                         separator("before-quit"),
                         action(menu_id::kQuit, "Quit Velmora"),
                     });
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
