#include "platform/linux/common/SessionLog.h"

namespace velmora::linuxos {

const Logger& sessionLog(SessionLog backEnd) {
  static const Logger x11(kVelmoraSubsystem, "Session.X11");
  static const Logger wayland(kVelmoraSubsystem, "Session.Wayland");
  static const Logger sway(kVelmoraSubsystem, "Session.sway");
  static const Logger hyprland(kVelmoraSubsystem, "Session.Hyprland");
  static const Logger gnome(kVelmoraSubsystem, "Session.GNOME");
  static const Logger kde(kVelmoraSubsystem, "Session.KDE");
  switch (backEnd) {
    case SessionLog::x11:
      return x11;
    case SessionLog::wayland:
      return wayland;
    case SessionLog::sway:
      return sway;
    case SessionLog::hyprland:
      return hyprland;
    case SessionLog::gnome:
      return gnome;
    case SessionLog::kde:
      break;
  }
  return kde;
}

}  // namespace velmora::linuxos
