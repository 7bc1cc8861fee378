#include "platform/linux/kde/KdeDesktop.h"

namespace velmora::linuxos {

KdeDesktop::KdeDesktop(std::shared_ptr<ChangeCoalescer> changes, std::optional<std::string> waylandDisplay,
                       std::optional<std::string> runtimeDir, std::function<void(const std::string&)> tellUser)
    : changes_(std::move(changes)), windowList_(std::make_shared<KWinWindowList>()) {
  outputs_ = std::make_unique<KdeOutputs>(
      [weak = std::weak_ptr<ChangeCoalescer>(changes_)] {
        if (auto changes = weak.lock()) changes->trigger();
      },
      std::move(waylandDisplay));
  KWinScriptClient::Options options;
  options.windowList = windowList_;
  options.tellUser = std::move(tellUser);
  options.runtimeDir = std::move(runtimeDir);
  script_ = std::make_unique<KWinScriptClient>(std::move(options));
}

// The script goes first, so it is unloaded while KWin is still reachable.
KdeDesktop::~KdeDesktop() {
  script_.reset();
  outputs_.reset();
}

std::vector<PlatformScreen> KdeDesktop::screens() {
  return outputs_->screens();
}

void KdeDesktop::observeConfigurationChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) {
  changes_->observe(std::move(queue), std::move(handler));
}

std::optional<std::vector<WindowListEntry>> KdeDesktop::onScreenWindows() {
  return windowList_->windows();
}

std::optional<std::vector<WindowListEntry>> KdeDesktop::onScreenWindowsOf(Pid owner) {
  return windowList_->windowsOf(owner);
}

std::string KdeDesktop::describe() const {
  const std::size_t displays = outputs_->screens().size();
  return "KDE Plasma (Wayland), " + script_->state() + ", " + std::to_string(displays) +
         (displays == 1 ? " display" : " displays");
}

}  // namespace velmora::linuxos
