#include "platform/linux/x11/X11Desktop.h"

namespace velmora::linuxos {

X11Desktop::X11Desktop(std::shared_ptr<ChangeCoalescer> changes, std::optional<std::string> display)
    : changes_(std::move(changes)),
      client_(
          [weak = std::weak_ptr<ChangeCoalescer>(changes_)] {
            if (auto changes = weak.lock()) changes->trigger();
          },
          std::move(display)) {}

std::vector<PlatformScreen> X11Desktop::screens() {
  return client_.screens();
}

void X11Desktop::observeConfigurationChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) {
  changes_->observe(std::move(queue), std::move(handler));
}

std::optional<std::vector<WindowListEntry>> X11Desktop::onScreenWindows() {
  return client_.windows();
}

std::optional<std::vector<WindowListEntry>> X11Desktop::onScreenWindowsOf(Pid owner) {
  return client_.windows(owner);
}

}  // namespace velmora::linuxos
