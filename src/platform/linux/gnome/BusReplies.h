#pragma once

// Reading the replies of Mutter's DisplayConfig and of the Shell extension
// off sd-bus messages into plain values. A reply of another shape gives
// nullopt, never a partial value.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/linux/gnome/MutterDisplays.h"
#include "platform/linux/gnome/ShellWindows.h"

struct sd_bus_message;

namespace velmora::linuxos::gnome {

// GetCurrentState: (u a((ssss)a(siiddada{sv})a{sv}) a(iiduba(ssss)a{sv}) a{sv})
std::optional<MutterState> readCurrentState(sd_bus_message* reply);

// Windows: (a(iiiii))
std::optional<std::vector<ShellWindow>> readWindows(sd_bus_message* reply);

// Properties.Get of a "u" property: (v)
std::optional<std::uint32_t> readUint32Property(sd_bus_message* reply);

}  // namespace velmora::linuxos::gnome
