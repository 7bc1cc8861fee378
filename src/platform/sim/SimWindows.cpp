#include "platform/sim/SimWindows.h"

#include <algorithm>

namespace velmora::sim {

SimWindows::SimWindows(std::vector<SimWindow> windows) : windows_(std::move(windows)) {}

std::optional<std::vector<WindowListEntry>> SimWindows::onScreenWindows() {
  std::lock_guard lock(mutex_);
  if (failuresLeft_ != 0) {
    if (failuresLeft_ > 0) --failuresLeft_;
    return std::nullopt;
  }
  std::vector<WindowListEntry> entries;
  entries.reserve(windows_.size());
  for (const SimWindow& w : windows_) {
    WindowListEntry entry;
    entry.ownerPID = PlatformValue{static_cast<std::int64_t>(w.pid)};
    if (w.onscreen) entry.isOnscreen = PlatformValue{*w.onscreen};
    entry.bounds = PlatformValue{w.bounds};
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<SimWindow>::iterator SimWindows::find(const std::string& id) {
  return std::find_if(windows_.begin(), windows_.end(), [&](const SimWindow& w) { return w.id == id; });
}

bool SimWindows::move(const std::string& id, const Rect& bounds) {
  std::lock_guard lock(mutex_);
  auto it = find(id);
  if (it == windows_.end()) return false;
  it->bounds = bounds;
  return true;
}

bool SimWindows::raise(const std::string& id) {
  std::lock_guard lock(mutex_);
  auto it = find(id);
  if (it == windows_.end()) return false;
  std::rotate(windows_.begin(), it, std::next(it));
  return true;
}

bool SimWindows::open(SimWindow window) {
  std::lock_guard lock(mutex_);
  if (find(window.id) != windows_.end()) return false;
  windows_.insert(windows_.begin(), std::move(window));
  return true;
}

bool SimWindows::close(const std::string& id) {
  std::lock_guard lock(mutex_);
  auto it = find(id);
  if (it == windows_.end()) return false;
  windows_.erase(it);
  return true;
}

std::size_t SimWindows::closeAllOf(Pid pid) {
  std::lock_guard lock(mutex_);
  return std::erase_if(windows_, [pid](const SimWindow& w) { return w.pid == pid; });
}

void SimWindows::failWindowList(int count) {
  std::lock_guard lock(mutex_);
  failuresLeft_ = count < 0 ? -1 : count;
}

std::vector<SimWindow> SimWindows::windows() const {
  std::lock_guard lock(mutex_);
  return windows_;
}

}  // namespace velmora::sim
