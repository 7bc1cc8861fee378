#pragma once

// The X server's screen list, window list and owners of top-level windows.
// A thread of its own holds the connection and keeps a snapshot current by
// the server's events (see X11Watch); reads copy the snapshot from any
// thread and never wait for the server. When the server goes away the
// thread reconnects with back-off; meanwhile reads give nothing.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Screens.h"
#include "platform/Types.h"
#include "platform/Windows.h"
#include "platform/linux/common/WorkerThread.h"

namespace velmora::linuxos {

struct X11Snapshot;

class X11Client {
 public:
  // onChange runs on the client's thread when the screens change and when
  // the connection is lost or made again; it should only hand work on.
  // Waits briefly for the server's first answer, so the first read has it.
  explicit X11Client(std::function<void()> onChange = nullptr, std::optional<std::string> display = std::nullopt);
  ~X11Client();

  X11Client(const X11Client&) = delete;
  X11Client& operator=(const X11Client&) = delete;

  // Active RandR monitors in server order; empty without a server.
  std::vector<PlatformScreen> screens();

  // Managed windows front to back; nullopt without a server. With an owner,
  // only that process's windows.
  std::optional<std::vector<WindowListEntry>> windows(std::optional<Pid> owner = std::nullopt);

  // pid → window class of every process that owns a top-level window.
  std::optional<std::map<Pid, std::string>> windowOwners();

  bool connected() const;

 private:
  void run();
  bool serveOnce(bool afterLoss);
  void publish(std::shared_ptr<const X11Snapshot> snapshot);
  std::shared_ptr<const X11Snapshot> current() const;

  std::function<void()> onChange_;
  std::optional<std::string> display_;

  mutable std::mutex mutex_;
  std::condition_variable answered_;
  bool firstAnswer_ = false;
  std::shared_ptr<const X11Snapshot> snapshot_;  // null while not connected

  WorkerThread worker_;
};

}  // namespace velmora::linuxos
