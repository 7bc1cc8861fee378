#pragma once

#include <optional>
#include <vector>

#include "platform/PlatformValue.h"
#include "platform/Types.h"

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

  // The same list for a reader that only looks for owner's windows: a
  // platform may leave out windows it knows belong to another process, when
  // that makes the read cheaper.
  virtual std::optional<std::vector<WindowListEntry>> onScreenWindowsOf(Pid /*owner*/) { return onScreenWindows(); }
};

}  // namespace velmora
