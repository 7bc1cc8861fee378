#pragma once

#include "platform/Log.h"

namespace velmora {

// The "Routing" channel, created once on first use.
const Logger& routingLog();

}  // namespace velmora
