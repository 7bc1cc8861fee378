#pragma once

// Registered applications and the process tree of the simulated desktop.

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Applications.h"

namespace velmora::sim {

class SimApplications final : public Applications {
 public:
  // Keeps the order in which applications were launched.
  void launch(RunningApplication app);
  void quit(Pid pid);
  // A process that is not an application, with its parent.
  void addProcess(Pid pid, Pid parent);
  // The next `count` parent lookups fail (-1: always, 0: never again).
  void failParentPid(int count);
  void setAdditionalMediaApps(std::vector<std::string> ids);

  std::optional<RunningApplication> runningApplication(Pid pid) override;
  std::vector<RunningApplication> runningApplications() override;
  std::optional<Pid> parentPid(Pid pid) override;
  std::vector<std::string> additionalMediaApps() const override;

  std::size_t parentLookups() const;

 private:
  mutable std::mutex mutex_;
  std::vector<RunningApplication> apps_;
  std::map<Pid, Pid> parents_;
  std::vector<std::string> additional_;
  int parentFailures_ = 0;
  std::size_t parentLookups_ = 0;
};

}  // namespace velmora::sim
