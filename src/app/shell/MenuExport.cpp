#include "app/shell/MenuExport.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <string>

#include "app/shell/BusNotifier.h"
#include "app/shell/MenuText.h"
#include "platform/Log.h"
#include "routing/RoutingStatus.h"

namespace velmora::app {

namespace {

constexpr const char* kItemType = "(ssssbbbbb)";

const Logger& generalLog() {
  static const Logger logger(kVelmoraSubsystem, "General");
  return logger;
}

// D-Bus strings must be valid UTF-8.
std::string busText(const std::string& text) {
  return menuLineText(text).toStdString();
}

const char* typeName(MenuItemType type) {
  switch (type) {
    case MenuItemType::separator:
      return "separator";
    case MenuItemType::submenu:
      return "submenu";
    case MenuItemType::action:
      break;
  }
  return "action";
}

// Each item, then its entries, then the next item: parents come first.
int appendItems(sd_bus_message* m, const MenuItems& items, const std::string& parent) {
  for (const MenuItemState& item : items) {
    const std::string id = busText(item.id);
    int r = sd_bus_message_append(m, kItemType, id.c_str(), parent.c_str(), typeName(item.type),
                                  busText(item.title).c_str(), int{item.enabled}, int{item.visible},
                                  int{item.checkable}, int{item.checked}, int{item.alternate});
    if (r >= 0) r = appendItems(m, item.children, id);
    if (r < 0) return r;
  }
  return 0;
}

int appendLayout(sd_bus_message* m, std::uint32_t revision, const StatusMenuModel& model) {
  int r = sd_bus_message_append(m, "ussss", revision, routingStatusName(model.status), busText(model.message).c_str(),
                                busText(model.accessibleDescription).c_str(), busText(model.iconName).c_str());
  if (r >= 0) r = sd_bus_message_open_container(m, 'a', kItemType);
  if (r >= 0) r = appendItems(m, model.items, "");
  if (r >= 0) r = sd_bus_message_close_container(m);
  return r;
}

}  // namespace

struct MenuExport::Calls {
  static bool fromShell(const MenuExport& self, sd_bus_message* call, sd_bus_error* error) {
    const char* sender = sd_bus_message_get_sender(call);
    if (sender && !self.shellOwner_.empty() && self.shellOwner_ == sender) return true;
    sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "Velmora's menu is only for GNOME Shell");
    return false;
  }

  static int onGetLayout(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    auto& self = *static_cast<MenuExport*>(userdata);
    if (!fromShell(self, call, error)) return -EACCES;
    if (self.handlers_.refresh) self.handlers_.refresh();
    if (!self.model_) return sd_bus_error_set(error, SD_BUS_ERROR_FAILED, "the menu is not drawn yet");
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_return(call, &reply);
    if (r >= 0) r = appendLayout(reply, self.revision_, *self.model_);
    if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r < 0 ? r : 1;
  }

  static int onActivate(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    auto& self = *static_cast<MenuExport*>(userdata);
    if (!fromShell(self, call, error)) return -EACCES;
    const char* id = nullptr;
    int r = sd_bus_message_read(call, "s", &id);
    if (r < 0) return r;
    const MenuItemState* item = self.model_ ? findMenuItem(self.model_->items, id) : nullptr;
    if (!item || item->type != MenuItemType::action || !item->enabled || !item->visible)
      return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "no item \"%s\" can be chosen now", id);
    const std::string chosen = item->id;
    r = sd_bus_reply_method_return(call, "");
    if (r < 0) return r;
    if (self.handlers_.activate) self.handlers_.activate(chosen);
    return 1;
  }

  static int onShellOwner(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    const char* owner = "";
    if (sd_bus_message_is_method_error(reply, nullptr) || sd_bus_message_read(reply, "s", &owner) < 0) owner = "";
    static_cast<MenuExport*>(userdata)->shellOwnerIs(owner);
    return 0;
  }

  static int onNameOwnerChanged(sd_bus_message* signal, void* userdata, sd_bus_error*) {
    const char* sender = sd_bus_message_get_sender(signal);
    if (!sender || std::string(sender) != "org.freedesktop.DBus") return 0;
    const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
    if (sd_bus_message_read(signal, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
    if (std::string(name) == kShellName) static_cast<MenuExport*>(userdata)->shellOwnerIs(newOwner);
    return 0;
  }

  static int onNameRequested(sd_bus_message* reply, void*, sd_bus_error*) {
    std::uint32_t result = 0;
    if (sd_bus_message_is_method_error(reply, nullptr)) {
      const sd_bus_error* e = sd_bus_message_get_error(reply);
      generalLog().info("Velmora: could not own the name %s (%s); the menu is not offered to GNOME Shell",
                        {kBusName, e && e->name ? e->name : "no reply"});
    } else if (sd_bus_message_read(reply, "u", &result) >= 0 && result == 2) {
      // DBUS_REQUEST_NAME_REPLY_IN_QUEUE
      generalLog().info("Velmora: another program owns the name %s; GNOME Shell gets this menu once it lets go",
                        {kBusName});
    }
    return 0;
  }
};

MenuExport::MenuExport(Handlers handlers) : handlers_(std::move(handlers)) {
  if (!start()) close();
}

MenuExport::~MenuExport() {
  close();
}

void MenuExport::close() {
  notifier_.reset();
  if (bus_) sd_bus_flush_close_unref(bus_);
  bus_ = nullptr;
}

bool MenuExport::start() {
  int r = sd_bus_open_user(&bus_);
  if (r < 0) {
    bus_ = nullptr;
    generalLog().info("Velmora: no session bus (error %d); the menu is not offered to GNOME Shell", {-r});
    return false;
  }
  // The vtable must outlive the object's registration: static.
  static const sd_bus_vtable vtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("GetLayout", "", "ussssa(ssssbbbbb)", &Calls::onGetLayout, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("Activate", "s", "", &Calls::onActivate, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_SIGNAL("Changed", "u", 0),
      SD_BUS_VTABLE_END,
  };
  const std::string ownerRule = std::string(
                                    "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
                                    "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='") +
                                kShellName + "'";
  // The object is in place before the name is, and the Shell's owner is
  // asked after the watch on it, so no change falls between.
  r = sd_bus_add_object_vtable(bus_, nullptr, kObjectPath, kInterface, vtable, this);
  if (r >= 0) r = sd_bus_add_match_async(bus_, nullptr, ownerRule.c_str(), &Calls::onNameOwnerChanged, nullptr, this);
  if (r >= 0)
    r = sd_bus_call_method_async(bus_, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                 "GetNameOwner", &Calls::onShellOwner, this, "s", kShellName);
  // Queued behind a Velmora already running, it takes over when that one ends.
  if (r >= 0) r = sd_bus_request_name_async(bus_, nullptr, kBusName, SD_BUS_NAME_QUEUE, &Calls::onNameRequested, this);
  if (r < 0) {
    generalLog().info("Velmora: could not offer the menu on the session bus (error %d)", {-r});
    return false;
  }
  notifier_ = std::make_unique<BusNotifier>(bus_, [](int error) {
    generalLog().info(
        "Velmora: the session bus connection ended (error %d); the menu is no longer offered to GNOME Shell", {-error});
  });
  return true;
}

void MenuExport::publish(const StatusMenuModel& model) {
  if (model_ && *model_ == model) return;
  model_ = model;
  ++revision_;
  sendChanged();
}

void MenuExport::sendChanged() {
  if (!bus_ || !model_ || shellOwner_.empty()) return;
  // To the Shell alone: nobody else needs to know when the status changes.
  sd_bus_message* signal = nullptr;
  int r = sd_bus_message_new_signal(bus_, &signal, kObjectPath, kInterface, "Changed");
  if (r >= 0) r = sd_bus_message_set_destination(signal, shellOwner_.c_str());
  if (r >= 0) r = sd_bus_message_append(signal, "u", revision_);
  if (r >= 0) r = sd_bus_send(bus_, signal, nullptr);
  sd_bus_message_unref(signal);
  if (r < 0) generalLog().debug("Velmora: could not tell GNOME Shell that the menu changed (error %d)", {-r});
  if (notifier_) notifier_->rearm();
}

void MenuExport::shellOwnerIs(const std::string& owner) {
  if (owner == shellOwner_) return;
  shellOwner_ = owner;
  // A Shell that has just come, or that asked too early, reads the menu now.
  sendChanged();
}

}  // namespace velmora::app
