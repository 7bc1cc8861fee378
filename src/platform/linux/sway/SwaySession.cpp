#include <memory>

#include "platform/linux/session/Session.h"
#include "platform/linux/sway/SwayClient.h"
#include "platform/linux/wayland/WaylandOutputs.h"

namespace velmora::linuxos {

// Windows from sway's IPC; displays from wl_output and xdg-output rather than
// sway's get_outputs: they name monitors the same way (the EDID model), and
// unlike sway 1.7's IPC they report an output that is moved or rescaled.
SessionDesktop makeSwaySessionDesktop(const SessionContext& context) {
  auto socket = context.env("SWAYSOCK");
  if (!socket || socket->empty()) socket = context.env("I3SOCK");
  auto client = std::make_shared<SwayClient>(socket);
  // sway before 1.9 sends no output event, and a moved or rescaled output
  // moves the windows on it.
  auto outputs = std::make_shared<WaylandOutputs>(context.changes, context.env("WAYLAND_DISPLAY"),
                                                  [weak = std::weak_ptr<SwayClient>(client)] {
                                                    if (auto c = weak.lock()) c->outputsChanged();
                                                  });

  SessionDesktop session;
  session.screens = outputs;
  session.windows = client;
  session.windowOwners = [weak = std::weak_ptr<SwayClient>(client)]() -> WindowOwners {
    auto c = weak.lock();
    return c ? c->windowOwners() : WindowOwners{};
  };
  session.describe = [weakClient = std::weak_ptr<SwayClient>(client),
                      weakOutputs = std::weak_ptr<WaylandOutputs>(outputs)]() -> std::string {
    auto c = weakClient.lock();
    auto o = weakOutputs.lock();
    std::string line = "sway";
    if (auto v = c ? c->version() : std::nullopt) line += " " + *v;
    line += " (Wayland)";
    if (!c || !c->connected()) line += ", IPC not reachable";
    if (!o || !o->connected()) line += ", displays not reachable";
    return line;
  };
  return session;
}

}  // namespace velmora::linuxos
