#include "platform/linux/session/Session.h"
#include "platform/linux/x11/X11Desktop.h"

namespace velmora::linuxos {

SessionDesktop makeX11SessionDesktop(const SessionContext& context) {
  auto desktop = std::make_shared<X11Desktop>(context.changes);
  SessionDesktop session;
  session.screens = desktop;
  session.windows = desktop;
  session.windowOwners = [weak = std::weak_ptr<X11Desktop>(desktop)]() -> WindowOwners {
    auto d = weak.lock();
    if (!d) return {};
    return d->client().windowOwners().value_or(WindowOwners{});
  };
  session.describe = [] { return std::string("X11"); };
  return session;
}

}  // namespace velmora::linuxos
