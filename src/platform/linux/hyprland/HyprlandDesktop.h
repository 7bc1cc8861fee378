#pragma once

// Windows and monitors of a Hyprland session. A thread of its own listens on
// the event socket and, after each change that matters, reads clients and
// monitors into a snapshot; reads take the snapshot without a round trip.
// Geometry changes by dragging send no event, so while the snapshot is being
// read it is also refreshed about once a second.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Screens.h"
#include "platform/Windows.h"
#include "platform/linux/common/ChangeCoalescer.h"
#include "platform/linux/common/WorkerThread.h"
#include "platform/linux/hyprland/HyprlandIpc.h"
#include "platform/linux/hyprland/HyprlandRules.h"

namespace velmora::linuxos::hyprland {

struct DesktopOptions {
  // Asked before every connection attempt, so a compositor that starts late
  // or moves its sockets is still found.
  std::function<SocketLocation()> locate;
  std::chrono::milliseconds firstRetry{Backoff::kFirst};
  std::chrono::milliseconds maxRetry{Backoff::kLongest};
  std::chrono::milliseconds readRefresh{1'000};
  // How long the constructor waits for a first snapshot.
  std::chrono::milliseconds startupWait{500};
};

class HyprlandDesktop final : public ScreensSource, public WindowSource {
 public:
  HyprlandDesktop(std::shared_ptr<ChangeCoalescer> changes, DesktopOptions options);
  ~HyprlandDesktop() override;
  HyprlandDesktop(const HyprlandDesktop&) = delete;
  HyprlandDesktop& operator=(const HyprlandDesktop&) = delete;

  std::vector<PlatformScreen> screens() override;
  void observeConfigurationChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) override;
  // None while the compositor is not connected.
  std::optional<std::vector<WindowListEntry>> onScreenWindows() override;
  WindowOwners windowOwners() const;
  // The diagnostics line: "Hyprland", or why it is not connected.
  std::string describe() const;

  // How many readings have ended so far: snapshots taken, replies found
  // unreadable, and attempts to connect that failed or connections lost.
  // Waits up to timeout for more than seen. For start-up and tests.
  std::uint64_t waitForReading(std::uint64_t seen, std::chrono::milliseconds timeout);

 private:
  struct Snapshot {
    std::vector<WindowListEntry> windows;
    WindowOwners owners;
    std::vector<PlatformScreen> screens;
  };

  void run();
  // One connection to the event socket, until it breaks or we stop; says why it ended.
  std::string listen(int eventFd, const SocketPaths& paths);
  bool refresh(const SocketPaths& paths);
  void setDisconnected(const std::string& why);

  std::shared_ptr<ChangeCoalescer> changes_;
  DesktopOptions options_;
  std::atomic<bool> readSinceRefresh_{false};

  mutable std::mutex mutex_;
  std::condition_variable readingEnded_;
  std::uint64_t readings_ = 0;
  bool connected_ = false;
  std::string problem_ = "not connected yet";
  std::shared_ptr<const Snapshot> snapshot_;

  // The thread's own.
  ConnectorIds ids_;
  std::vector<PlatformScreen> reportedScreens_;
  std::chrono::steady_clock::time_point lastRefresh_;

  WorkerThread worker_;
};

}  // namespace velmora::linuxos::hyprland
