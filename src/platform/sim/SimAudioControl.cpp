// The simulated audio platform's scenario side: mutators, queries and fault
// injection. The property calls live in SimAudio.cpp.
#include "platform/sim/SimAudio.h"

#include <algorithm>
#include <array>
#include <utility>

namespace velmora::sim {

// ---- Scenario mutators -----------------------------------------------------

bool SimAudio::addDevice(Device device) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (idTakenLocked(device.id)) return false;
  devices_.push_back(std::move(device));
  return true;
}

bool SimAudio::removeDevice(AudioDeviceID id) {
  Pending pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(devices_.begin(), devices_.end(), [id](const Device& d) { return d.id == id; });
    if (it == devices_.end()) return false;
    const Placement before = placementLocked();
    devices_.erase(it);
    for (auto& s : streams_) {
      if (s.pin == id) s.pin.reset();
    }
    if (default_ == id) {
      AudioDeviceID fallback = 0;
      for (const auto& d : devices_) {
        if (d.outputs && d.canBeDefault) {
          fallback = d.id;
          break;
        }
      }
      changeDefaultLocked(fallback, pending);
    }
    collectMovesLocked(before, pending);
  }
  deliver(std::move(pending));
  return true;
}

bool SimAudio::renameDevice(AudioDeviceID id, std::optional<std::string> name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device* dev = findDeviceLocked(id);
  if (!dev) return false;
  dev->name = std::move(name);
  return true;
}

bool SimAudio::setInitialDefault(AudioDeviceID id) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (id != 0 && !findDeviceLocked(id)) return false;
  default_ = id;
  return true;
}

bool SimAudio::userSetDefault(AudioDeviceID id) {
  Pending pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!validDefaultLocked(id)) return false;
    if (id == default_) {
      // Picking the current device by hand is still announced, as a device
      // picker does; only the hook waits for a real change.
      collectLocked(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice, pending);
    } else {
      const Placement before = placementLocked();
      changeDefaultLocked(id, pending);
      collectMovesLocked(before, pending);
    }
  }
  deliver(std::move(pending));
  return true;
}

bool SimAudio::addStream(Stream stream) {
  Pending pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (idTakenLocked(stream.id)) return false;
    if (stream.pin) {
      const Device* dev = findDeviceLocked(*stream.pin);
      if (!dev || !dev->outputs) return false;
    }
    streams_.push_back(std::move(stream));
    collectLocked(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList, pending);
  }
  deliver(std::move(pending));
  return true;
}

bool SimAudio::removeStream(AudioObjectID id) {
  Pending pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(streams_.begin(), streams_.end(), [id](const Stream& s) { return s.id == id; });
    if (it == streams_.end()) return false;
    streams_.erase(it);
    std::erase_if(listeners_, [id](const Listener& l) { return l.object == id; });
    collectLocked(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList, pending);
  }
  deliver(std::move(pending));
  return true;
}

bool SimAudio::setRunning(AudioObjectID id, bool running) {
  Pending pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Stream* str = findStreamLocked(id);
    if (!str) return false;
    if (str->running == running) return true;
    str->running = running;
    collectLocked(id, kAudioProcessPropertyIsRunningOutput, pending);
  }
  deliver(std::move(pending));
  return true;
}

bool SimAudio::userMoveStream(AudioObjectID id, AudioDeviceID device) {
  Pending pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Stream* str = findStreamLocked(id);
    if (!str || moveStreamLocked(*str, device, pending) != kAudioHardwareNoError) return false;
  }
  deliver(std::move(pending));
  return true;
}

// ---- Queries ---------------------------------------------------------------

AudioDeviceID SimAudio::defaultDevice() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return default_;
}

std::vector<SimAudio::Device> SimAudio::devices() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_;
}

std::vector<SimAudio::Stream> SimAudio::streams() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return streams_;
}

std::optional<SimAudio::Device> SimAudio::device(AudioDeviceID id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Device* dev = findDeviceLocked(id);
  return dev ? std::optional<Device>(*dev) : std::nullopt;
}

std::optional<SimAudio::Stream> SimAudio::stream(AudioObjectID id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Stream* str = findStreamLocked(id);
  return str ? std::optional<Stream>(*str) : std::nullopt;
}

AudioDeviceID SimAudio::streamDevice(AudioObjectID id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Stream* str = findStreamLocked(id);
  return str ? deviceOfLocked(*str) : kAudioObjectUnknown;
}

std::size_t SimAudio::listenerCount(AudioObjectID object, AudioObjectPropertySelector selector) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<std::size_t>(std::count_if(listeners_.begin(), listeners_.end(), [&](const Listener& l) {
    return l.object == object && l.selector == selector;
  }));
}

std::size_t SimAudio::sizeQueryCount(AudioObjectPropertySelector selector) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = sizeQueries_.find(selector);
  return it == sizeQueries_.end() ? 0 : it->second;
}

std::size_t SimAudio::dataReadCount(AudioObjectPropertySelector selector) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = dataReads_.find(selector);
  return it == dataReads_.end() ? 0 : it->second;
}

// ---- Fault injection -------------------------------------------------------

void SimAudio::fail(Operation operation, int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_[operation].remaining = count < 0 ? -1 : count;
}

void SimAudio::injectSizeQuery(AudioObjectPropertySelector selector, int count,
                               std::optional<std::uint32_t> reportedSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  sizeFaults_[selector] = SizeFault{Fault{count < 0 ? -1 : count}, reportedSize};
}

void SimAudio::injectShortRead(AudioObjectPropertySelector selector, int count, std::uint32_t maxBytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  shortReads_[selector] = ShortRead{Fault{count < 0 ? -1 : count}, maxBytes};
}

void SimAudio::failListenerRegistrations(AudioObjectPropertySelector selector, int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  listenerFaults_[selector].remaining = count < 0 ? -1 : count;
}

std::optional<SimAudio::Operation> operationFromName(std::string_view name) {
  using Op = SimAudio::Operation;
  static constexpr std::array<std::pair<std::string_view, Op>, 7> kNames{{
      {"setDefaultOutputDevice", Op::setDefaultOutputDevice},
      {"defaultOutputDevice", Op::defaultOutputDevice},
      {"outputDevices", Op::outputDevices},
      {"deviceName", Op::deviceName},
      {"processObjects", Op::processObjects},
      {"processPID", Op::processPID},
      {"setProcessOutputDevice", Op::setProcessOutputDevice},
  }};
  for (const auto& [text, op] : kNames) {
    if (text == name) return op;
  }
  return std::nullopt;
}

}  // namespace velmora::sim
