#pragma once

// The session-bus side of the GNOME back end, on a thread of its own: it
// follows GNOME Shell's name, the extension's Changed signal and Mutter's
// MonitorsChanged, and keeps the latest window list and screens as a
// snapshot, so readers never wait for a round trip.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Screens.h"
#include "platform/linux/common/WorkerThread.h"
#include "platform/linux/gnome/ShellWindows.h"

namespace velmora::linuxos::gnome {

class GnomeBus {
 public:
  struct Callbacks {
    // The screens changed; called on the bus thread.
    std::function<void()> screensChanged;
    // A message for the user (at most once per run); called on the bus thread.
    std::function<void(const std::string&)> tellUser;
  };

  explicit GnomeBus(Callbacks callbacks);
  ~GnomeBus();
  GnomeBus(const GnomeBus&) = delete;
  GnomeBus& operator=(const GnomeBus&) = delete;

  // nullopt while the extension does not answer.
  std::optional<std::vector<ShellWindow>> windows() const;
  std::vector<PlatformScreen> screens() const;
  std::string describe() const;

 private:
  struct Loop;
  void run();

  Callbacks callbacks_;
  mutable std::mutex mutex_;
  std::optional<std::vector<ShellWindow>> windows_;
  std::vector<PlatformScreen> screens_;
  std::string describe_;
  WorkerThread worker_;
};

}  // namespace velmora::linuxos::gnome
