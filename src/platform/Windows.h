#pragma once

#include <optional>
#include <vector>

#include "platform/PlatformValue.h"

namespace velmora {

// One entry of the on-screen window list. Each key may be missing or hold a
// value of an unexpected type; readers convert strictly.
struct WindowListEntry {
  std::optional<PlatformValue> ownerPID;
  std::optional<PlatformValue> isOnscreen;
  std::optional<PlatformValue> bounds;
};

class WindowSource {
 public:
  virtual ~WindowSource() = default;

  // On-screen windows front to back, desktop elements excluded; nullopt when
  // the platform gives nothing.
  virtual std::optional<std::vector<WindowListEntry>> onScreenWindows() = 0;
};

}  // namespace velmora
