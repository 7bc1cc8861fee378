#pragma once

// The simulated desktop's on-screen windows, front to back, with a fault
// switch for the window-list read.

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Types.h"
#include "platform/Windows.h"

namespace velmora::sim {

struct SimWindow {
  std::string id;
  Pid pid = 0;
  Rect bounds;
  // nullopt: the entry carries no on-screen flag at all.
  std::optional<bool> onscreen = true;
};

class SimWindows final : public WindowSource {
 public:
  explicit SimWindows(std::vector<SimWindow> windows = {});

  std::optional<std::vector<WindowListEntry>> onScreenWindows() override;

  // Each returns false and changes nothing when the id is unknown (or, for
  // open, already in use).
  bool move(const std::string& id, const Rect& bounds);
  bool raise(const std::string& id);
  bool open(SimWindow window);
  bool close(const std::string& id);
  // Returns how many windows were closed.
  std::size_t closeAllOf(Pid pid);

  // The next count window-list reads give nothing; -1 (any negative count)
  // means every read from now on, 0 ends the fault.
  void failWindowList(int count);

  std::vector<SimWindow> windows() const;

 private:
  std::vector<SimWindow>::iterator find(const std::string& id);

  mutable std::mutex mutex_;
  std::vector<SimWindow> windows_;
  int failuresLeft_ = 0;
};

}  // namespace velmora::sim
