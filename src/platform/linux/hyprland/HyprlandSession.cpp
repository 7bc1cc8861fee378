#include <filesystem>

#include "platform/linux/hyprland/HyprlandDesktop.h"
#include "platform/linux/session/Session.h"

namespace velmora::linuxos {

SessionDesktop makeHyprlandSessionDesktop(const SessionContext& context) {
  hyprland::DesktopOptions options;
  options.locate = [env = context.env] {
    return hyprland::locateSockets(env("HYPRLAND_INSTANCE_SIGNATURE"), env("XDG_RUNTIME_DIR"),
                                   [](const std::string& dir) {
                                     std::error_code ec;
                                     return std::filesystem::is_directory(dir, ec);
                                   });
  };
  auto desktop = std::make_shared<hyprland::HyprlandDesktop>(context.changes, std::move(options));
  SessionDesktop session;
  session.screens = desktop;
  session.windows = desktop;
  session.windowOwners = [weak = std::weak_ptr<hyprland::HyprlandDesktop>(desktop)]() -> WindowOwners {
    auto d = weak.lock();
    return d ? d->windowOwners() : WindowOwners{};
  };
  session.describe = [weak = std::weak_ptr<hyprland::HyprlandDesktop>(desktop)] {
    auto d = weak.lock();
    return d ? d->describe() : std::string("Hyprland");
  };
  return session;
}

}  // namespace velmora::linuxos
