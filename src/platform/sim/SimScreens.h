#pragma once

// The simulated desktop's screen list. Replacing it posts the
// display-configuration notification to every observer on its queue.

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/ChangeObservers.h"
#include "platform/Screens.h"

namespace velmora::sim {

class SimScreens final : public ScreensSource {
 public:
  explicit SimScreens(std::vector<PlatformScreen> screens = {});

  std::vector<PlatformScreen> screens() override;
  // A null queue means the handler runs on the thread that changes the list.
  void observeConfigurationChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) override;

  void setScreens(std::vector<PlatformScreen> screens);

 private:
  std::mutex mutex_;
  std::vector<PlatformScreen> screens_;
  ChangeObservers observers_;
};

}  // namespace velmora::sim
