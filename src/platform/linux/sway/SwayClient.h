#pragma once

// Windows of a sway session over its IPC socket. A thread of its own
// subscribes to window, workspace and output events and reads the tree again
// after each one that can move a window, so a read of the window list is a
// copy of the last snapshot, never a round trip. sway sends no event when a
// floating window is dragged or resized with the pointer, and none for
// outputs before 1.9: while the list is being read the tree is read again
// about once a second, and whenever the owner says the outputs changed. When
// sway goes away the list is none and the thread reconnects with back-off.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Windows.h"
#include "platform/linux/common/WorkerThread.h"
#include "platform/linux/sway/SwayTree.h"

namespace velmora::linuxos {

class SwayClient final : public WindowSource {
 public:
  static constexpr std::chrono::milliseconds kReadRefresh{1000};

  // socketPath: the value of $SWAYSOCK; without one the client never connects.
  explicit SwayClient(std::optional<std::string> socketPath, std::chrono::milliseconds readRefresh = kReadRefresh);
  ~SwayClient() override;

  SwayClient(const SwayClient&) = delete;
  SwayClient& operator=(const SwayClient&) = delete;

  std::optional<std::vector<WindowListEntry>> onScreenWindows() override;
  std::optional<std::vector<WindowListEntry>> onScreenWindowsOf(Pid owner) override;
  WindowOwners windowOwners();
  // The Wayland outputs changed: windows may have moved with them.
  void outputsChanged();
  std::optional<std::string> version();
  bool connected();

  // How many answers have come so far: trees read or found unreadable, and
  // attempts to connect that failed. Waits up to timeout for more than seen.
  // For start-up and tests.
  std::uint64_t waitForTree(std::uint64_t seen, std::chrono::milliseconds timeout);

  // A reply that does not arrive within this is taken for a hung compositor.
  static constexpr std::chrono::seconds kReplyTimeout{5};

 private:
  void run();
  void serve(int fd);
  void markRead();
  void store(std::shared_ptr<const SwayWindows> windows, bool countsAsTree);

  std::optional<std::string> socketPath_;
  std::chrono::milliseconds readRefresh_;
  // Set by readers and by outputsChanged; the thread asks for a tree.
  std::atomic<bool> readSinceTree_{false};
  std::atomic<bool> outputsChanged_{false};

  std::mutex mutex_;
  std::condition_variable treeRead_;
  std::shared_ptr<const SwayWindows> windows_;
  std::optional<std::string> version_;
  bool connected_ = false;
  std::uint64_t trees_ = 0;

  WorkerThread worker_;
};

}  // namespace velmora::linuxos
