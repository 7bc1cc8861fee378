#pragma once

// Finds the host process behind a Flatpak application's audio stream. The
// stream may carry the pid the application has inside its sandbox, which on
// the host is no process or another program's, while the compositor and the
// X server report the host pid of its windows. The sound server's portal
// check vouches for the application id, and the processes of that
// application's instances show it in /proc/PID/root/.flatpak-info.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/linux/proc/ProcFs.h"

namespace velmora::linuxos {

class FlatpakInstances {
 public:
  using Now = std::function<std::chrono::steady_clock::time_point()>;
  explicit FlatpakInstances(
      std::filesystem::path procRoot = "/proc", Now now = [] { return std::chrono::steady_clock::now(); });

  // The host pid to report for a stream that claims pid (if any) and was
  // opened by appId: the claimed pid itself when it is a process of that
  // application; else the application's process whose pid inside its sandbox
  // is the claimed one; else the main process of one of its instances. None
  // when no process of the application is found.
  std::optional<Pid> hostPid(std::optional<Pid> claimed, const std::string& appId);

 private:
  bool belongsTo(Pid pid, const std::string& appId) const;
  std::optional<Pid> search(std::optional<Pid> claimed, const std::string& appId) const;

  ProcFs proc_;
  Now now_;

  struct Found {
    std::optional<Pid> host;
    std::optional<std::uint64_t> startTime;
    std::chrono::steady_clock::time_point when;
  };
  std::mutex mutex_;
  std::map<std::pair<Pid, std::string>, Found> found_;
};

}  // namespace velmora::linuxos
