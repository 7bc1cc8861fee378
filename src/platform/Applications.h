#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Types.h"

namespace velmora {

struct RunningApplication {
  Pid processIdentifier = 0;
  std::optional<std::string> bundleIdentifier;
  std::optional<std::string> localizedName;

  friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

class Applications {
 public:
  virtual ~Applications() = default;

  // The application registered for exactly this pid, or none.
  virtual std::optional<RunningApplication> runningApplication(Pid pid) = 0;

  // Every running application, in a stable order.
  virtual std::vector<RunningApplication> runningApplications() = 0;

  // The parent of pid, or none when it cannot be read.
  virtual std::optional<Pid> parentPid(Pid pid) = 0;

  // Identifiers of this platform's own media applications, followed in
  // addition to the fixed supported set.
  virtual std::vector<std::string> additionalMediaApps() const { return {}; }
};

}  // namespace velmora
