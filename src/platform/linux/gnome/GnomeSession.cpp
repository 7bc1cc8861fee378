#include "platform/linux/gnome/GnomeDesktop.h"
#include "platform/linux/session/Session.h"

namespace velmora::linuxos {

SessionDesktop makeGnomeSessionDesktop(const SessionContext& context) {
  auto desktop = std::make_shared<gnome::GnomeDesktop>(context.changes, context.tellUser);
  SessionDesktop session;
  session.screens = desktop;
  session.windows = desktop;
  session.windowOwners = [weak = std::weak_ptr<gnome::GnomeDesktop>(desktop)]() -> WindowOwners {
    auto d = weak.lock();
    return d ? d->windowOwners() : WindowOwners{};
  };
  session.describe = [weak = std::weak_ptr<gnome::GnomeDesktop>(desktop)] {
    auto d = weak.lock();
    return d ? d->describe() : std::string("GNOME Shell (Wayland)");
  };
  return session;
}

}  // namespace velmora::linuxos
