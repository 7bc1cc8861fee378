#include <stdlib.h>

#include "platform/Log.h"
#include "platform/linux/kde/KdeDesktop.h"
#include "platform/linux/session/Session.h"

namespace velmora::linuxos {

namespace {

// A folder only we can write, for the copy of the KWin script: under the
// runtime directory, else a fresh one in /tmp (a fixed /tmp name could be
// taken by someone else first).
std::filesystem::path privateScriptDir(const Environment& env) {
  if (auto runtime = env ? env("XDG_RUNTIME_DIR") : std::nullopt; runtime && !runtime->empty()) {
    return std::filesystem::path(*runtime) / "velmora";
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "velmora-XXXXXX").string();
  if (mkdtemp(pattern.data())) return pattern;
  Logger(kVelmoraSubsystem, "Platform").info("Could not make a private folder for the KWin script");
  return std::filesystem::temp_directory_path();
}

}  // namespace

SessionDesktop makeKdeSessionDesktop(const SessionContext& context) {
  std::optional<std::string> wayland = context.env ? context.env("WAYLAND_DISPLAY") : std::nullopt;
  auto desktop = std::make_shared<KdeDesktop>(context.changes, std::move(wayland), privateScriptDir(context.env),
                                              context.tellUser);
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
