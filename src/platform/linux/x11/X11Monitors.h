#pragma once

// The screen list from RandR 1.5 monitors, read on the X back end's thread
// whenever the server says the monitors changed.

#include <xcb/xcb.h>

#include <vector>

#include "platform/Screens.h"
#include "platform/linux/x11/XcbReplies.h"

namespace velmora::linuxos {

// Active monitors in server order; empty when they cannot be read.
std::vector<PlatformScreen> readMonitors(xcb_connection_t* c, XcbReplies& replies, xcb_window_t root,
                                         xcb_atom_t edidAtom);

}  // namespace velmora::linuxos
