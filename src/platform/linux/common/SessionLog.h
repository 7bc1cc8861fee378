#pragma once

// The log channels of the session back ends: category "Session." plus the
// back end ("Session.sway"), beside "Session" for the choice of session, so
// the journal's VELMORA_CATEGORY field picks out one back end.

#include "platform/Log.h"

namespace velmora::linuxos {

enum class SessionLog { x11, wayland, sway, hyprland, gnome, kde };

const Logger& sessionLog(SessionLog backEnd);

}  // namespace velmora::linuxos
