#include "platform/linux/kde/KdeDesktop.h"
#include "platform/linux/session/Session.h"

namespace velmora::linuxos {

SessionDesktop makeKdeSessionDesktop(const SessionContext& context) {
  std::optional<std::string> wayland = context.env ? context.env("WAYLAND_DISPLAY") : std::nullopt;
  std::optional<std::string> runtimeDir = context.env ? context.env("XDG_RUNTIME_DIR") : std::nullopt;
  auto desktop =
      std::make_shared<KdeDesktop>(context.changes, std::move(wayland), std::move(runtimeDir), context.tellUser);
  SessionDesktop session;
  session.screens = desktop;
  session.windows = desktop;
  session.windowOwners = [weak = std::weak_ptr<KdeDesktop>(desktop)]() -> WindowOwners {
    auto d = weak.lock();
    return d ? d->windowOwners() : WindowOwners{};
  };
  session.describe = [weak = std::weak_ptr<KdeDesktop>(desktop)] {
    auto d = weak.lock();
    return d ? d->describe() : std::string("KDE Plasma (Wayland)");
  };
  return session;
}

}  // namespace velmora::linuxos
