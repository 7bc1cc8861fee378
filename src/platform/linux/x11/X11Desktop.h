#pragma once

// Screens and windows of one X server, over one connection. Display
// configuration changes are coalesced, so a burst of RandR events (and any
// other trigger of the same coalescer) gives one notification.

#include <memory>

#include "platform/Screens.h"
#include "platform/Windows.h"
#include "platform/linux/common/ChangeCoalescer.h"
#include "platform/linux/x11/X11Client.h"

namespace velmora::linuxos {

class X11Desktop final : public ScreensSource, public WindowSource {
 public:
  // The client reports its changes to the coalescer.
  X11Desktop(std::shared_ptr<ChangeCoalescer> changes, std::optional<std::string> display = std::nullopt);

  std::vector<PlatformScreen> screens() override;
  void observeConfigurationChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) override;
  std::optional<std::vector<WindowListEntry>> onScreenWindows() override;
  std::optional<std::vector<WindowListEntry>> onScreenWindowsOf(Pid owner) override;

  X11Client& client() { return client_; }

 private:
  std::shared_ptr<ChangeCoalescer> changes_;
  X11Client client_;
};

}  // namespace velmora::linuxos
