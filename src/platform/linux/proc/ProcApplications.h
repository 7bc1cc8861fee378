#pragma once

// Running applications read from /proc: a desktop application's main process
// is a process with an application identity whose parent does not carry the
// same identity, so browsers' helper and content processes lead up to it.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Applications.h"
#include "platform/linux/proc/DesktopEntries.h"
#include "platform/linux/proc/ProcFs.h"

namespace velmora::linuxos {

// pid → window class of the processes that own a top-level window.
using WindowOwners = std::map<Pid, std::string>;

struct ProcApplicationsOptions {
  std::filesystem::path procRoot = "/proc";
  std::vector<std::filesystem::path> dataDirs = DesktopEntries::dataDirsFromEnvironment();
  // Asked at most once per ownersTtl; null means no process owns a window.
  std::function<WindowOwners()> windowOwners;
  std::chrono::milliseconds ownersTtl{1000};
  std::function<std::chrono::steady_clock::time_point()> now = [] { return std::chrono::steady_clock::now(); };
};

class ProcApplications final : public Applications {
 public:
  explicit ProcApplications(ProcApplicationsOptions options = {});

  std::optional<RunningApplication> runningApplication(Pid pid) override;
  std::vector<RunningApplication> runningApplications() override;
  std::optional<Pid> parentPid(Pid pid) override;
  std::vector<std::string> additionalMediaApps() const override;

 private:
  struct Identity {
    std::string bundleID;
    std::vector<std::string> desktopIds;
  };

  // The identity of one process, remembered for its life: while its start
  // time and executable stay the same, the sandbox files are not read again.
  std::optional<Identity> identity(Pid pid, std::optional<std::uint64_t> startTime);
  std::optional<Identity> readIdentity(Pid pid, const std::string& exe) const;
  using OwnersRef = std::shared_ptr<const WindowOwners>;
  std::optional<RunningApplication> runningApplication(Pid pid, OwnersRef& owners);
  std::shared_ptr<const WindowOwners> windowOwners();

  ProcApplicationsOptions options_;
  ProcFs proc_;
  DesktopEntries desktopEntries_;

  struct KnownIdentity {
    std::uint64_t startTime;
    std::string exe;
    std::optional<Identity> identity;
  };
  std::mutex identitiesMutex_;
  std::map<Pid, KnownIdentity> identities_;

  std::mutex ownersMutex_;
  std::shared_ptr<const WindowOwners> owners_;
  std::chrono::steady_clock::time_point ownersRead_;
};

}  // namespace velmora::linuxos
