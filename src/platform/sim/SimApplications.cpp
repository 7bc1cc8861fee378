#include "platform/sim/SimApplications.h"

#include <algorithm>

namespace velmora::sim {

void SimApplications::launch(RunningApplication app) {
  std::lock_guard lock(mutex_);
  std::erase_if(apps_, [&](const RunningApplication& a) { return a.processIdentifier == app.processIdentifier; });
  apps_.push_back(std::move(app));
}

void SimApplications::quit(Pid pid) {
  std::lock_guard lock(mutex_);
  std::erase_if(apps_, [&](const RunningApplication& a) { return a.processIdentifier == pid; });
}

void SimApplications::addProcess(Pid pid, Pid parent) {
  std::lock_guard lock(mutex_);
  parents_[pid] = parent;
}

void SimApplications::failParentPid(int count) {
  std::lock_guard lock(mutex_);
  parentFailures_ = count;
}

void SimApplications::setAdditionalMediaApps(std::vector<std::string> ids) {
  std::lock_guard lock(mutex_);
  additional_ = std::move(ids);
}

std::optional<RunningApplication> SimApplications::runningApplication(Pid pid) {
  std::lock_guard lock(mutex_);
  auto it =
      std::find_if(apps_.begin(), apps_.end(), [&](const RunningApplication& a) { return a.processIdentifier == pid; });
  if (it == apps_.end()) return std::nullopt;
  return *it;
}

std::vector<RunningApplication> SimApplications::runningApplications() {
  std::lock_guard lock(mutex_);
  return apps_;
}

std::optional<Pid> SimApplications::parentPid(Pid pid) {
  std::lock_guard lock(mutex_);
  ++parentLookups_;
  if (parentFailures_ != 0) {
    if (parentFailures_ > 0) --parentFailures_;
    return std::nullopt;
  }
  auto it = parents_.find(pid);
  if (it == parents_.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> SimApplications::additionalMediaApps() const {
  std::lock_guard lock(mutex_);
  return additional_;
}

std::size_t SimApplications::parentLookups() const {
  std::lock_guard lock(mutex_);
  return parentLookups_;
}

}  // namespace velmora::sim
