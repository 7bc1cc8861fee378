#include "audio/AudioProcessMonitor.h"

#include <mutex>
#include <utility>

namespace velmora {

namespace {

// Process objects that carry our running-output listener (and our
// output-device listener, when one was asked for), as of the last
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
                                        const std::function<void()>& onChange,
                                        const std::function<void()>& onOutputMoved) {
  std::vector<AudioObjectID> listed = audio.processObjects();
  const std::set<AudioObjectID> present(listed.begin(), listed.end());

  std::lock_guard<std::mutex> guard(monitorLock());
  auto& observed = observedProcessObjects();
  std::erase_if(observed, [&](AudioObjectID id) { return !present.contains(id); });
  for (AudioObjectID id : present) {
    if (observed.contains(id)) continue;
    if (audio.addProcessRunningOutputListener(id, queue, [onChange] {
          if (onChange) onChange();
        }) != kAudioHardwareNoError) {
      continue;
    }
    observed.insert(id);
    // Not retried when it fails: a move is only a prompt, and whoever asked
    // for it reads where streams play on its own schedule too.
    if (onOutputMoved) audio.addProcessOutputDeviceListener(id, queue, onOutputMoved);
  }
}

// A listener block must not keep the back end alive: the back end owns the
// block, so a strong reference would make a cycle. The block rebuilds the
// operations from a weak reference and does nothing once the back end is gone.
bool AudioProcessMonitor::start(const AudioHardware& audio, std::shared_ptr<SerialQueue> queue,
                                std::function<void()> onChange, std::function<void()> onOutputMoved) {
  std::weak_ptr<AudioObjects> weakObjects = audio.objects_;
  const OSStatus status = audio.addProcessListListener(queue, [weakObjects, queue, onChange, onOutputMoved] {
    auto objects = weakObjects.lock();
    if (!objects) return;
    resynchronise(AudioHardware(std::move(objects)), queue, onChange, onOutputMoved);
    if (onChange) onChange();
  });
  resynchronise(audio, queue, onChange, onOutputMoved);
  return status == kAudioHardwareNoError;
}

std::vector<PlayingProcess> AudioProcessMonitor::playingProcesses(const AudioHardware& audio) {
  std::vector<PlayingProcess> playing;
  for (auto& stream : playingStreams(audio))
    playing.push_back(std::move(stream.process));
  return playing;
}

std::vector<PlayingStream> AudioProcessMonitor::playingStreams(const AudioHardware& audio) {
  std::vector<PlayingStream> playing;
  for (AudioObjectID id : audio.processObjects()) {
    if (!audio.processIsRunningOutput(id)) continue;
    const std::optional<Pid> pid = audio.processPID(id);
    if (!pid) continue;
    playing.push_back(PlayingStream{id, PlayingProcess{*pid, audio.processBundleID(id)}});
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
