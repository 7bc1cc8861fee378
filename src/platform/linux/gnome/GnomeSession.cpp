#include "platform/linux/session/Session.h"

namespace velmora::linuxos {

// Not built yet: X11 through XWayland sees X clients only.
SessionDesktop makeGnomeSessionDesktop(const SessionContext& context) {
  return makeX11SessionDesktop(context);
}

}  // namespace velmora::linuxos
