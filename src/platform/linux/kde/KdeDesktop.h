#pragma once

// Screens and windows of a KDE Plasma session on Wayland: displays from
// kde_output_device_v2, windows from our KWin script's reports.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Screens.h"
#include "platform/Windows.h"
#include "platform/linux/common/ChangeCoalescer.h"
#include "platform/linux/kde/KWinScriptClient.h"
#include "platform/linux/kde/KWinWindowList.h"
#include "platform/linux/kde/KdeOutputs.h"

namespace velmora::linuxos {

class KdeDesktop final : public ScreensSource, public WindowSource {
 public:
  KdeDesktop(std::shared_ptr<ChangeCoalescer> changes, std::optional<std::string> waylandDisplay,
             std::optional<std::string> runtimeDir, std::function<void(const std::string&)> tellUser);
  ~KdeDesktop() override;

  std::vector<PlatformScreen> screens() override;
  void observeConfigurationChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) override;
  std::optional<std::vector<WindowListEntry>> onScreenWindows() override;
  std::optional<std::vector<WindowListEntry>> onScreenWindowsOf(Pid owner) override;

  WindowOwners windowOwners() const { return windowList_->owners(); }
  std::string describe() const;

 private:
  std::shared_ptr<ChangeCoalescer> changes_;
  std::shared_ptr<KWinWindowList> windowList_;
  std::unique_ptr<KdeOutputs> outputs_;
  std::unique_ptr<KWinScriptClient> script_;
};

}  // namespace velmora::linuxos
