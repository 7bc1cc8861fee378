#include "platform/sim/SimAudio.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "platform/Queue.h"

namespace velmora::sim {

namespace {

// Byte size the stream configuration of a device with one output buffer
// reports; only "zero or not" matters to anyone.
constexpr std::uint32_t kStreamConfigurationSize = 24;

constexpr std::uint32_t kScalarSize = 4;

bool isListSelector(AudioObjectPropertySelector selector) {
  return selector == kAudioHardwarePropertyDevices || selector == kAudioHardwarePropertyProcessObjectList;
}

OSStatus writeScalar(std::uint32_t value, std::uint32_t& ioDataSize, void* outData) {
  if (ioDataSize < kScalarSize) return kAudioHardwareBadPropertySizeError;
  std::memcpy(outData, &value, kScalarSize);
  ioDataSize = kScalarSize;
  return kAudioHardwareNoError;
}

}  // namespace

bool SimAudio::Fault::consume() {
  if (remaining == 0) return false;
  if (remaining > 0) --remaining;
  return true;
}

// ---- AudioObjects ----------------------------------------------------------

OSStatus SimAudio::getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                       std::uint32_t& outDataSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto selector = address.mSelector;
  ++sizeQueries_[selector];

  const bool system = object == kAudioObjectSystemObject;
  const Device* dev = findDeviceLocked(object);
  const Stream* str = findStreamLocked(object);
  if (!system && !dev && !str) return kAudioHardwareBadObjectError;

  if (system && selector == kAudioHardwarePropertyDevices && faults_[Operation::outputDevices].consume()) {
    return kAudioHardwareUnspecifiedError;
  }
  if (system && selector == kAudioHardwarePropertyProcessObjectList && faults_[Operation::processObjects].consume()) {
    return kAudioHardwareUnspecifiedError;
  }
  if (auto it = sizeFaults_.find(selector); it != sizeFaults_.end() && it->second.fault.consume()) {
    if (!it->second.reportedSize) return kAudioHardwareUnspecifiedError;
    outDataSize = *it->second.reportedSize;
    return kAudioHardwareNoError;
  }

  if (system) {
    switch (selector) {
      case kAudioHardwarePropertyDevices:
        outDataSize = static_cast<std::uint32_t>(devices_.size() * sizeof(AudioObjectID));
        return kAudioHardwareNoError;
      case kAudioHardwarePropertyProcessObjectList:
        outDataSize = static_cast<std::uint32_t>(streams_.size() * sizeof(AudioObjectID));
        return kAudioHardwareNoError;
      case kAudioHardwarePropertyDefaultOutputDevice:
        outDataSize = kScalarSize;
        return kAudioHardwareNoError;
      default:
        return kAudioHardwareUnknownPropertyError;
    }
  }
  if (dev) {
    switch (selector) {
      case kAudioDevicePropertyStreamConfiguration:
        // Only output streams are modelled; other scopes have none.
        outDataSize =
            (address.mScope == kAudioObjectPropertyScopeOutput && dev->outputs) ? kStreamConfigurationSize : 0;
        return kAudioHardwareNoError;
      case kAudioObjectPropertyName:
        outDataSize = kAudioStringRefSize;
        return kAudioHardwareNoError;
      case kAudioDevicePropertyDeviceCanBeDefaultDevice:
      case kAudioDevicePropertyDeviceIsAlive:
      case kAudioDevicePropertyTransportType:
        outDataSize = kScalarSize;
        return kAudioHardwareNoError;
      default:
        return kAudioHardwareUnknownPropertyError;
    }
  }
  switch (selector) {
    case kAudioProcessPropertyIsRunningOutput:
    case kAudioProcessPropertyPID:
      outDataSize = kScalarSize;
      return kAudioHardwareNoError;
    case kAudioProcessPropertyBundleID:
      outDataSize = kAudioStringRefSize;
      return kAudioHardwareNoError;
    default:
      return kAudioHardwareUnknownPropertyError;
  }
}

OSStatus SimAudio::getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                   std::uint32_t& ioDataSize, void* outData) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto selector = address.mSelector;
  ++dataReads_[selector];

  const bool system = object == kAudioObjectSystemObject;
  const Device* dev = findDeviceLocked(object);
  const Stream* str = findStreamLocked(object);
  if (!system && !dev && !str) return kAudioHardwareBadObjectError;
  if (outData == nullptr && ioDataSize != 0) return kAudioHardwareBadPropertySizeError;

  if (system) {
    if (isListSelector(selector)) {
      std::vector<AudioObjectID> ids;
      if (selector == kAudioHardwarePropertyDevices) {
        for (const auto& d : devices_)
          ids.push_back(d.id);
      } else {
        for (const auto& s : streams_)
          ids.push_back(s.id);
      }
      std::size_t n = std::min<std::size_t>(ioDataSize / sizeof(AudioObjectID), ids.size());
      if (auto it = shortReads_.find(selector); it != shortReads_.end() && it->second.fault.consume()) {
        n = std::min<std::size_t>(n, it->second.maxBytes / sizeof(AudioObjectID));
      }
      if (n > 0) std::memcpy(outData, ids.data(), n * sizeof(AudioObjectID));
      ioDataSize = static_cast<std::uint32_t>(n * sizeof(AudioObjectID));
      return kAudioHardwareNoError;
    }
    if (selector == kAudioHardwarePropertyDefaultOutputDevice) {
      if (faults_[Operation::defaultOutputDevice].consume()) return kAudioHardwareUnspecifiedError;
      return writeScalar(default_, ioDataSize, outData);
    }
    return kAudioHardwareUnknownPropertyError;
  }
  if (dev) {
    switch (selector) {
      case kAudioDevicePropertyDeviceCanBeDefaultDevice:
        return writeScalar(dev->canBeDefault ? 1 : 0, ioDataSize, outData);
      case kAudioDevicePropertyDeviceIsAlive:
        return writeScalar(dev->alive ? 1 : 0, ioDataSize, outData);
      case kAudioDevicePropertyTransportType:
        return writeScalar(dev->transport, ioDataSize, outData);
      case kAudioObjectPropertyName:
      case kAudioDevicePropertyStreamConfiguration:
        // Strings go through getPropertyString; the configuration is never read.
        return kAudioHardwareIllegalOperationError;
      default:
        return kAudioHardwareUnknownPropertyError;
    }
  }
  switch (selector) {
    case kAudioProcessPropertyIsRunningOutput:
      return writeScalar(str->running ? 1 : 0, ioDataSize, outData);
    case kAudioProcessPropertyPID:
      if (faults_[Operation::processPID].consume()) return kAudioHardwareUnspecifiedError;
      if (!str->pid) return kAudioHardwareUnknownPropertyError;
      return writeScalar(static_cast<std::uint32_t>(*str->pid), ioDataSize, outData);
    case kAudioProcessPropertyBundleID:
      return kAudioHardwareIllegalOperationError;
    default:
      return kAudioHardwareUnknownPropertyError;
  }
}

OSStatus SimAudio::getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                     std::uint32_t& ioDataSize, AudioStringRef& outString) {
  outString.reset();
  std::lock_guard<std::mutex> lock(mutex_);
  const auto selector = address.mSelector;
  ++dataReads_[selector];

  const Device* dev = findDeviceLocked(object);
  const Stream* str = findStreamLocked(object);
  if (object != kAudioObjectSystemObject && !dev && !str) return kAudioHardwareBadObjectError;
  if (ioDataSize < kAudioStringRefSize) return kAudioHardwareBadPropertySizeError;

  if (dev && selector == kAudioObjectPropertyName) {
    if (faults_[Operation::deviceName].consume()) return kAudioHardwareUnspecifiedError;
    outString = dev->name;
  } else if (str && selector == kAudioProcessPropertyBundleID) {
    outString = str->bundleID;
  } else {
    return kAudioHardwareUnknownPropertyError;
  }
  ioDataSize = kAudioStringRefSize;
  return kAudioHardwareNoError;
}

OSStatus SimAudio::setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                   std::uint32_t dataSize, const void* data) {
  Pending pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (object != kAudioObjectSystemObject && !findDeviceLocked(object) && !findStreamLocked(object)) {
      return kAudioHardwareBadObjectError;
    }
    // The default output device is the one property anyone may write.
    if (object != kAudioObjectSystemObject || address.mSelector != kAudioHardwarePropertyDefaultOutputDevice) {
      return kAudioHardwareIllegalOperationError;
    }
    if (faults_[Operation::setDefaultOutputDevice].consume()) return kAudioHardwareUnspecifiedError;
    if (dataSize != kScalarSize || data == nullptr) return kAudioHardwareBadPropertySizeError;
    AudioDeviceID id = 0;
    std::memcpy(&id, data, kScalarSize);
    if (!validDefaultLocked(id)) return kAudioHardwareIllegalOperationError;
    changeDefaultLocked(id, pending);
  }
  deliver(std::move(pending));
  return kAudioHardwareNoError;
}

OSStatus SimAudio::addPropertyListenerBlock(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                            std::shared_ptr<SerialQueue> queue,
                                            AudioObjectPropertyListenerBlock block) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto selector = address.mSelector;
  const bool system = object == kAudioObjectSystemObject;
  const bool isStream = findStreamLocked(object) != nullptr;
  if (!system && !isStream && !findDeviceLocked(object)) return kAudioHardwareBadObjectError;
  const bool supported = (system && (selector == kAudioHardwarePropertyDefaultOutputDevice ||
                                     selector == kAudioHardwarePropertyProcessObjectList)) ||
                         (isStream && selector == kAudioProcessPropertyIsRunningOutput);
  if (!supported) return kAudioHardwareUnknownPropertyError;
  if (!block) return kAudioHardwareIllegalOperationError;
  if (auto it = listenerFaults_.find(selector); it != listenerFaults_.end() && it->second.consume()) {
    return kAudioHardwareUnspecifiedError;
  }
  listeners_.push_back(Listener{object, selector, std::move(queue), std::move(block)});
  return kAudioHardwareNoError;
}

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
    devices_.erase(it);
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
    changeDefaultLocked(id, pending);
  }
  deliver(std::move(pending));
  return true;
}

bool SimAudio::addStream(Stream stream) {
  Pending pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (idTakenLocked(stream.id)) return false;
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

// ---- Internals -------------------------------------------------------------

const SimAudio::Device* SimAudio::findDeviceLocked(AudioObjectID id) const {
  for (const auto& d : devices_) {
    if (d.id == id) return &d;
  }
  return nullptr;
}

SimAudio::Device* SimAudio::findDeviceLocked(AudioObjectID id) {
  return const_cast<Device*>(std::as_const(*this).findDeviceLocked(id));
}

const SimAudio::Stream* SimAudio::findStreamLocked(AudioObjectID id) const {
  for (const auto& s : streams_) {
    if (s.id == id) return &s;
  }
  return nullptr;
}

SimAudio::Stream* SimAudio::findStreamLocked(AudioObjectID id) {
  return const_cast<Stream*>(std::as_const(*this).findStreamLocked(id));
}

bool SimAudio::idTakenLocked(AudioObjectID id) const {
  return id == kAudioObjectUnknown || id == kAudioObjectSystemObject || findDeviceLocked(id) || findStreamLocked(id);
}

bool SimAudio::validDefaultLocked(AudioDeviceID id) const {
  const Device* dev = findDeviceLocked(id);
  return dev && dev->canBeDefault;
}

void SimAudio::changeDefaultLocked(AudioDeviceID id, Pending& pending) {
  if (id == default_) return;
  default_ = id;
  pending.newDefault = id;
  collectLocked(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice, pending);
}

void SimAudio::collectLocked(AudioObjectID object, AudioObjectPropertySelector selector, Pending& pending) const {
  for (const auto& l : listeners_) {
    if (l.object == object && l.selector == selector) pending.listeners.push_back(l);
  }
}

void SimAudio::deliver(Pending pending) {
  if (pending.newDefault && onDefaultDeviceChanged) onDefaultDeviceChanged(*pending.newDefault);
  for (auto& l : pending.listeners) {
    const AudioObjectPropertyAddress address{l.selector, kAudioObjectPropertyScopeGlobal,
                                             kAudioObjectPropertyElementMain};
    if (l.queue) {
      l.queue->async([block = std::move(l.block), address] { block(1, &address); });
    } else {
      l.block(1, &address);
    }
  }
}

std::optional<SimAudio::Operation> operationFromName(std::string_view name) {
  using Op = SimAudio::Operation;
  static constexpr std::array<std::pair<std::string_view, Op>, 6> kNames{{
      {"setDefaultOutputDevice", Op::setDefaultOutputDevice},
      {"defaultOutputDevice", Op::defaultOutputDevice},
      {"outputDevices", Op::outputDevices},
      {"deviceName", Op::deviceName},
      {"processObjects", Op::processObjects},
      {"processPID", Op::processPID},
  }};
  for (const auto& [text, op] : kNames) {
    if (text == name) return op;
  }
  return std::nullopt;
}

}  // namespace velmora::sim
