#pragma once

// Which processes produce audio output now, and a bare signal when that may
// have changed. No instances: one process-wide set of the process objects that
// carry our running-output listeners, guarded by one lock.

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "audio/AudioHardware.h"

namespace velmora {

struct PlayingProcess {
  Pid pid = 0;
  std::optional<std::string> bundleID;

  friend bool operator==(const PlayingProcess&, const PlayingProcess&) = default;
};

class AudioProcessMonitor {
 public:
  AudioProcessMonitor() = delete;

  // Registers the process-list listener (its status decides the result) and
  // resynchronises once. Never calls onChange itself.
  static bool start(const AudioHardware& audio, std::shared_ptr<SerialQueue> queue, std::function<void()> onChange);

  static std::vector<PlayingProcess> playingProcesses(const AudioHardware& audio);

  // For tests: the observed set, and a way to forget it between cases.
  static std::set<AudioObjectID> observedProcessObjectsSnapshot();
  static void resetForTesting();

 private:
  // Brings the running-output listeners in line with the current process list.
  static void resynchronise(const AudioHardware& audio, const std::shared_ptr<SerialQueue>& queue,
                            const std::function<void()>& onChange);
};

}  // namespace velmora
