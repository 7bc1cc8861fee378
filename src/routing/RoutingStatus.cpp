#include "routing/RoutingStatus.h"

namespace velmora {

const char* routingStatusName(RoutingStatus status) {
  switch (status) {
    case RoutingStatus::idle:
      return "idle";
    case RoutingStatus::tracking:
      return "tracking";
    case RoutingStatus::override:
      return "override";
    case RoutingStatus::external:
      return "external";
  }
  return "idle";
}

}  // namespace velmora
