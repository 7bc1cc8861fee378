#pragma once

// The whole simulated desktop built from a scenario: audio, screens, windows,
// applications and the virtual-time queues, wired as a Platform.

#include <map>
#include <memory>

#include "platform/Platform.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/SimApplications.h"
#include "platform/sim/SimAudio.h"
#include "platform/sim/SimScreens.h"
#include "platform/sim/SimWindows.h"
#include "platform/sim/VirtualScheduler.h"

namespace velmora::sim {

class SimDesktop {
 public:
  // Everything the scenario lists as present at time 0.
  explicit SimDesktop(const Scenario& scenario);

  Platform platform() const;

  VirtualScheduler& scheduler() { return *scheduler_; }
  SimAudio& audio() { return *audio_; }
  SimScreens& screens() { return *screens_; }
  SimWindows& windows() { return *windows_; }
  SimApplications& applications() { return *applications_; }
  SpeakerChoices& speakerChoices() { return *speakerChoices_; }
  const std::shared_ptr<SerialQueue>& mainQueue() const { return mainQueue_; }

  // Applies one event at the current virtual time.
  void apply(const ScenarioEvent& event);

 private:
  std::shared_ptr<VirtualScheduler> scheduler_;
  std::shared_ptr<SerialQueue> mainQueue_;
  std::shared_ptr<SimAudio> audio_;
  std::shared_ptr<SimScreens> screens_;
  std::shared_ptr<SimWindows> windows_;
  std::shared_ptr<SimApplications> applications_;
  std::shared_ptr<SpeakerChoices> speakerChoices_;
  std::map<Pid, Pid> parents_;
};

}  // namespace velmora::sim
