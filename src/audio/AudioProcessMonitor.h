#pragma once

// Which processes produce audio output now, and a bare signal when that may
// have changed. No instances: one process-wide set of the process objects that
// carry our listeners, guarded by one lock.

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

// A process object producing audio output now, and its process.
struct PlayingStream {
  AudioObjectID object = 0;
  PlayingProcess process;

  friend bool operator==(const PlayingStream&, const PlayingStream&) = default;
};

class AudioProcessMonitor {
 public:
  AudioProcessMonitor() = delete;

  // Registers the process-list listener (its status decides the result) and
  // resynchronises once. Never calls onChange itself. onOutputMoved, when
  // given, runs on queue whenever a process object's output device changes;
  // such a change alone is no reason to look for audio producers again.
  static bool start(const AudioHardware& audio, std::shared_ptr<SerialQueue> queue, std::function<void()> onChange,
                    std::function<void()> onOutputMoved = nullptr);

  static std::vector<PlayingProcess> playingProcesses(const AudioHardware& audio);
  // The same reads, with the object each process was read from.
  static std::vector<PlayingStream> playingStreams(const AudioHardware& audio);

  // For tests: the observed set, and a way to forget it between cases.
  static std::set<AudioObjectID> observedProcessObjectsSnapshot();
  static void resetForTesting();

 private:
  // Brings the running-output listeners in line with the current process list.
  static void resynchronise(const AudioHardware& audio, const std::shared_ptr<SerialQueue>& queue,
                            const std::function<void()>& onChange, const std::function<void()>& onOutputMoved);
};

}  // namespace velmora
