#pragma once

// The X server's screen list, window list and owners of top-level windows.
// Thread-safe: reads may come from any thread at once. A thread of its own
// watches RandR events on a second connection and, when the server goes away,
// reconnects with back-off. While there is no server, reads give nothing.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Screens.h"
#include "platform/Types.h"
#include "platform/Windows.h"
#include "platform/linux/proc/ProcFs.h"

namespace velmora::linuxos {

struct WindowReplies;

class X11Client {
 public:
  // onChange runs on the client's thread after RandR events and after the
  // connection is lost or made again; it should only hand work on.
  explicit X11Client(std::function<void()> onChange = nullptr, std::optional<std::string> display = std::nullopt);
  ~X11Client();

  X11Client(const X11Client&) = delete;
  X11Client& operator=(const X11Client&) = delete;

  // Active RandR monitors in server order; empty without a server.
  std::vector<PlatformScreen> screens();

  // Managed windows front to back; nullopt without a server. With an owner,
  // only that process's windows: the others cost one request each instead
  // of seven.
  std::optional<std::vector<WindowListEntry>> windows(std::optional<Pid> owner = std::nullopt);

  // pid → window class of every process that owns a top-level window.
  std::optional<std::map<Pid, std::string>> windowOwners();

  bool connected() const;

 private:
  struct Connection;

  std::shared_ptr<Connection> current() const;
  std::shared_ptr<Connection> connect();
  void dropIfBroken(const std::shared_ptr<Connection>& connection);
  bool lost(const std::shared_ptr<Connection>& connection);
  void lookUpSandboxPid(WindowReplies& window);
  void run();
  bool waitForStop(std::chrono::milliseconds timeout);
  void notify();

  std::function<void()> onChange_;
  std::optional<std::string> display_;

  mutable std::mutex mutex_;
  std::condition_variable stopped_;
  std::shared_ptr<Connection> connection_;
  bool stop_ = false;
  std::thread thread_;

  // (client pid, _NET_WM_PID) → the client's pid inside its namespace. A
  // pair stays true while the client's connection, and so its pid, lives.
  ProcFs proc_;
  std::mutex sandboxMutex_;
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::optional<std::uint32_t>> sandboxPids_;
};

}  // namespace velmora::linuxos
