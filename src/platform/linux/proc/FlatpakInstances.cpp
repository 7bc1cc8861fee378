#include "platform/linux/proc/FlatpakInstances.h"

namespace velmora::linuxos {
namespace {

// A search that found nothing is not repeated sooner, so a stream that
// cannot be placed costs one scan of /proc per period, not one per poll.
constexpr std::chrono::seconds kRetryMissAfter{5};
constexpr std::size_t kMaxRemembered = 64;

}  // namespace

FlatpakInstances::FlatpakInstances(std::filesystem::path procRoot, Now now)
    : proc_(std::move(procRoot)), now_(std::move(now)) {}

bool FlatpakInstances::belongsTo(Pid pid, const std::string& appId) const {
  const auto id = proc_.flatpakAppId(pid);
  return id && *id == appId;
}

std::optional<Pid> FlatpakInstances::search(std::optional<Pid> claimed, const std::string& appId) const {
  std::optional<Pid> sameInnerPid;
  std::optional<Pid> mainProcess;
  for (Pid pid : proc_.pids()) {
    if (!belongsTo(pid, appId)) continue;
    if (claimed && !sameInnerPid && proc_.innermostPid(pid) == claimed) sameInnerPid = pid;
    if (mainProcess) continue;
    // bwrap sets the sandbox up and shares its root; it is not the application.
    if (proc_.executableName(pid) == "bwrap") continue;
    const auto stat = proc_.stat(pid);
    if (!stat) continue;
    const bool parentIsApp = belongsTo(stat->parent, appId) && proc_.executableName(stat->parent) != "bwrap";
    if (!parentIsApp) mainProcess = pid;
  }
  return sameInnerPid ? sameInnerPid : mainProcess;
}

std::optional<Pid> FlatpakInstances::hostPid(std::optional<Pid> claimed, const std::string& appId) {
  if (appId.empty()) return std::nullopt;
  if (claimed && *claimed > 0 && belongsTo(*claimed, appId)) return claimed;

  const auto key = std::make_pair(claimed.value_or(0), appId);
  const auto now = now_();
  {
    std::lock_guard lock(mutex_);
    if (auto it = found_.find(key); it != found_.end()) {
      const Found& f = it->second;
      if (f.host) {
        // Still the same process of the same application.
        const auto stat = proc_.stat(*f.host);
        if (stat && stat->startTime == f.startTime && belongsTo(*f.host, appId)) return f.host;
      } else if (now >= f.when && now - f.when < kRetryMissAfter) {
        return std::nullopt;
      }
    }
  }
  Found found{search(claimed, appId), std::nullopt, now};
  if (found.host) {
    if (const auto stat = proc_.stat(*found.host)) found.startTime = stat->startTime;
  }
  std::lock_guard lock(mutex_);
  if (found_.size() >= kMaxRemembered && !found_.contains(key)) found_.clear();
  found_.insert_or_assign(key, found);
  return found.host;
}

}  // namespace velmora::linuxos
