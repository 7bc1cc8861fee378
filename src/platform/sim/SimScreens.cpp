#include "platform/sim/SimScreens.h"

namespace velmora::sim {

SimScreens::SimScreens(std::vector<PlatformScreen> screens) : screens_(std::move(screens)) {}

std::vector<PlatformScreen> SimScreens::screens() {
  std::lock_guard lock(mutex_);
  return screens_;
}

void SimScreens::observeConfigurationChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) {
  observers_.add(std::move(queue), std::move(handler));
}

void SimScreens::setScreens(std::vector<PlatformScreen> screens) {
  {
    std::lock_guard lock(mutex_);
    screens_ = std::move(screens);
  }
  observers_.notify();
}

}  // namespace velmora::sim
