#pragma once

// Screens and windows of a GNOME Shell session on Wayland: windows from
// Velmora's Shell extension, displays from Mutter, both read from the
// snapshot GnomeBus keeps.

#include <memory>

#include "platform/Screens.h"
#include "platform/Windows.h"
#include "platform/linux/common/ChangeCoalescer.h"
#include "platform/linux/gnome/GnomeBus.h"
#include "platform/linux/proc/ProcApplications.h"

namespace velmora::linuxos::gnome {

class GnomeDesktop final : public ScreensSource, public WindowSource {
 public:
  GnomeDesktop(std::shared_ptr<ChangeCoalescer> changes, std::function<void(const std::string&)> tellUser);

  std::vector<PlatformScreen> screens() override;
  void observeConfigurationChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) override;
  std::optional<std::vector<WindowListEntry>> onScreenWindows() override;
  std::optional<std::vector<WindowListEntry>> onScreenWindowsOf(Pid owner) override;
  WindowOwners windowOwners() const;

  std::string describe() const { return bus_.describe(); }

 private:
  std::shared_ptr<ChangeCoalescer> changes_;
  GnomeBus bus_;
};

}  // namespace velmora::linuxos::gnome
