#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/PlatformValue.h"
#include "platform/Types.h"

namespace velmora {

class SerialQueue;

// Who a monitor is, from its EDID, and where it is plugged in: what tells a
// display apart across re-plugging and reboots. Any part may be unknown.
struct DisplayIdentity {
  std::optional<std::string> maker = std::nullopt;
  std::optional<std::string> model = std::nullopt;
  std::optional<std::string> serial = std::nullopt;
  // The port, as the session names it (HDMI-A-1, DP-2).
  std::optional<std::string> connector = std::nullopt;

  bool operator==(const DisplayIdentity&) const = default;
};

// One attached screen as the platform describes it.
struct PlatformScreen {
  // The screen number as stored; missing, or of a type or range that is not
  // an unsigned 32-bit integer, on a misbehaving platform.
  std::optional<PlatformValue> screenNumber;
  Rect frame;
  std::string localizedName;
  DisplayIdentity identity = {};

  bool operator==(const PlatformScreen&) const = default;
};

class ScreensSource {
 public:
  virtual ~ScreensSource() = default;

  // The attached screens in platform order; possibly empty.
  virtual std::vector<PlatformScreen> screens() = 0;

  // The handler runs on the given queue after every display-configuration
  // change. Observers are never removed.
  virtual void observeConfigurationChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) = 0;
};

}  // namespace velmora
