#pragma once

// The status menu on the session bus, for Velmora's GNOME Shell extension to
// show in the top bar where no tray host exists. Velmora owns the name
// co.quennet.Velmora; at /co/quennet/Velmora/Menu, co.quennet.Velmora.Menu:
//
//   GetLayout() -> (u revision, s status kind, s status message,
//                   s accessible name, s icon name,
//                   a(ssssbbbbb) items: id, parent id ("" at the top),
//                   type (action, separator, submenu), title, enabled,
//                   visible, checkable, checked, alternate)
//   Activate(s id)     chooses an item, as a click in the tray menu does
//   signal Changed(u revision)   sent to GNOME Shell alone, once per change
//
// Items come parents first, in menu order. Only the current owner of
// org.gnome.Shell may call; anyone else is refused. Everything runs on the
// Qt main thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/shell/MenuMirror.h"

struct sd_bus;

namespace velmora::app {

class BusNotifier;

class MenuExport final : public MenuMirror {
 public:
  static constexpr const char* kBusName = "co.quennet.Velmora";
  static constexpr const char* kObjectPath = "/co/quennet/Velmora/Menu";
  static constexpr const char* kInterface = "co.quennet.Velmora.Menu";
  static constexpr const char* kShellName = "org.gnome.Shell";

  // On the session bus. Without one it says so once and offers nothing.
  explicit MenuExport(Handlers handlers);
  ~MenuExport() override;
  MenuExport(const MenuExport&) = delete;
  MenuExport& operator=(const MenuExport&) = delete;

  void publish(const StatusMenuModel& model) override;

 private:
  bool start();
  void close();
  void sendChanged();
  void shellOwnerIs(const std::string& owner);

  // The sd-bus callbacks.
  struct Calls;

  Handlers handlers_;
  sd_bus* bus_ = nullptr;
  std::unique_ptr<BusNotifier> notifier_;
  std::optional<StatusMenuModel> model_;
  std::uint32_t revision_ = 0;
  std::string shellOwner_;
};

}  // namespace velmora::app
