#pragma once

namespace velmora {

enum class RoutingStatus { idle, tracking, override, external };

// "idle", "tracking", "override", "external".
const char* routingStatusName(RoutingStatus status);

}  // namespace velmora
