#pragma once

// Displays of a Wayland session from wl_output and xdg-output, which every
// major compositor offers: the frame in the global logical layout (the space
// the compositor's window rectangles use), the monitor's model, and the
// connector, with a notice on every change.
//
// A thread of its own holds a private connection to the compositor; reads
// return the last snapshot and never wait for the compositor. When the
// compositor goes away the screen list empties and the thread reconnects
// with back-off. Any session family may use it as its screens source.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Screens.h"
#include "platform/linux/common/ChangeCoalescer.h"
#include "platform/linux/wayland/OutputRules.h"

namespace velmora::linuxos {

class WaylandOutputs final : public ScreensSource {
 public:
  // display: a WAYLAND_DISPLAY value (name or absolute path); none uses the
  // process environment. Changes are reported to the coalescer, and to
  // onChange (may be null) on the outputs' thread. Waits briefly for the
  // compositor's first answer, so that the first read has screens.
  explicit WaylandOutputs(std::shared_ptr<ChangeCoalescer> changes, std::optional<std::string> display = std::nullopt,
                          std::function<void()> onChange = nullptr);
  ~WaylandOutputs() override;

  WaylandOutputs(const WaylandOutputs&) = delete;
  WaylandOutputs& operator=(const WaylandOutputs&) = delete;

  // Screens with a known frame, in the compositor's order.
  std::vector<PlatformScreen> screens() override;
  void observeConfigurationChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) override;

  // Everything known of each output, for families that combine it with their
  // compositor's own interface.
  std::vector<WaylandOutputInfo> outputs();
  bool connected();

 private:
  struct Impl;
  std::shared_ptr<ChangeCoalescer> changes_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora::linuxos
