#include "audio/AudioProcessMonitor.h"

#include <mutex>
#include <utility>

namespace velmora {

namespace {

// Process objects that carry our running-output listener, as of the last
// resynchronisation. Only monitorLock guards it.
std::mutex& monitorLock() {
  static std::mutex lock;
  return lock;
}

std::set<AudioObjectID>& observedProcessObjects() {
  static std::set<AudioObjectID> objects;
  return objects;
}

}  // namespace

void AudioProcessMonitor::resynchronise(const AudioHardware& audio, const std::shared_ptr<SerialQueue>& queue,
                                        const std::function<void()>& onChange) {
  std::vector<AudioObjectID> listed = audio.processObjects();
  const std::set<AudioObjectID> present(listed.begin(), listed.end());

  std::lock_guard<std::mutex> guard(monitorLock());
  auto& observed = observedProcessObjects();
  std::erase_if(observed, [&](AudioObjectID id) { return !present.contains(id); });
  for (AudioObjectID id : present) {
    if (observed.contains(id)) continue;
    if (audio.addProcessRunningOutputListener(id, queue, [onChange] {
          if (onChange) onChange();
        }) == kAudioHardwareNoError) {
      observed.insert(id);
    }
  }
}

// A listener block must not keep the back end alive: the back end owns the
// block, so a strong reference would make a cycle. The block rebuilds the
// operations from a weak reference and does nothing once the back end is gone.
bool AudioProcessMonitor::start(const AudioHardware& audio, std::shared_ptr<SerialQueue> queue,
                                std::function<void()> onChange) {
  std::weak_ptr<AudioObjects> weakObjects = audio.objects_;
  const OSStatus status = audio.addProcessListListener(queue, [weakObjects, queue, onChange] {
    auto objects = weakObjects.lock();
    if (!objects) return;
    resynchronise(AudioHardware(std::move(objects)), queue, onChange);
    if (onChange) onChange();
  });
  resynchronise(audio, queue, onChange);
  return status == kAudioHardwareNoError;
}

std::vector<PlayingProcess> AudioProcessMonitor::playingProcesses(const AudioHardware& audio) {
  std::vector<PlayingProcess> playing;
  for (AudioObjectID id : audio.processObjects()) {
    if (!audio.processIsRunningOutput(id)) continue;
    const std::optional<Pid> pid = audio.processPID(id);
    if (!pid) continue;
    playing.push_back(PlayingProcess{*pid, audio.processBundleID(id)});
  }
  return playing;
}

std::set<AudioObjectID> AudioProcessMonitor::observedProcessObjectsSnapshot() {
  std::lock_guard<std::mutex> guard(monitorLock());
  return observedProcessObjects();
}

void AudioProcessMonitor::resetForTesting() {
  std::lock_guard<std::mutex> guard(monitorLock());
  observedProcessObjects().clear();
}

}  // namespace velmora
