#include "platform/linux/gnome/GnomeDesktop.h"

namespace velmora::linuxos::gnome {

GnomeDesktop::GnomeDesktop(std::shared_ptr<ChangeCoalescer> changes, std::function<void(const std::string&)> tellUser)
    : changes_(std::move(changes)),
      bus_(GnomeBus::Callbacks{[weak = std::weak_ptr<ChangeCoalescer>(changes_)] {
                                 if (auto changes = weak.lock()) changes->trigger();
                               },
                               std::move(tellUser)}) {}

std::vector<PlatformScreen> GnomeDesktop::screens() {
  return bus_.screens();
}

void GnomeDesktop::observeConfigurationChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) {
  changes_->observe(std::move(queue), std::move(handler));
}

std::optional<std::vector<WindowListEntry>> GnomeDesktop::onScreenWindows() {
  const auto windows = bus_.windows();
  if (!windows) return std::nullopt;
  return windowEntries(*windows);
}

std::optional<std::vector<WindowListEntry>> GnomeDesktop::onScreenWindowsOf(Pid owner) {
  const auto windows = bus_.windows();
  if (!windows) return std::nullopt;
  return windowEntries(*windows, owner);
}

WindowOwners GnomeDesktop::windowOwners() const {
  WindowOwners owners;
  if (const auto windows = bus_.windows()) {
    // The extension gives no window classes; /proc names the program.
    for (const auto& w : *windows)
      if (w.pid > 0) owners.emplace(w.pid, std::string());
  }
  return owners;
}

}  // namespace velmora::linuxos::gnome
