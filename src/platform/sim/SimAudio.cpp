#include "platform/sim/SimAudio.h"

#include <algorithm>
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
    case kAudioProcessPropertyOutputDevice:
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
    case kAudioProcessPropertyOutputDevice:
      return writeScalar(deviceOfLocked(*str), ioDataSize, outData);
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
    Stream* str = findStreamLocked(object);
    if (object != kAudioObjectSystemObject && !findDeviceLocked(object) && !str) return kAudioHardwareBadObjectError;
    // The default output device and the device a stream plays on are the
    // properties anyone may write.
    const bool isDefault =
        object == kAudioObjectSystemObject && address.mSelector == kAudioHardwarePropertyDefaultOutputDevice;
    if (!isDefault && !(str && address.mSelector == kAudioProcessPropertyOutputDevice)) {
      return kAudioHardwareIllegalOperationError;
    }
    if (isDefault && faults_[Operation::setDefaultOutputDevice].consume()) return kAudioHardwareUnspecifiedError;
    if (dataSize != kScalarSize || data == nullptr) return kAudioHardwareBadPropertySizeError;
    AudioDeviceID id = 0;
    std::memcpy(&id, data, kScalarSize);
    if (str) {
      if (faults_[Operation::setProcessOutputDevice].consume()) return kAudioHardwareNoError;
      if (OSStatus status = moveStreamLocked(*str, id, pending); status != kAudioHardwareNoError) return status;
    } else {
      if (!validDefaultLocked(id)) return kAudioHardwareIllegalOperationError;
      const Placement before = placementLocked();
      changeDefaultLocked(id, pending);
      collectMovesLocked(before, pending);
    }
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
  const bool supported =
      (system && (selector == kAudioHardwarePropertyDefaultOutputDevice ||
                  selector == kAudioHardwarePropertyProcessObjectList)) ||
      (isStream && (selector == kAudioProcessPropertyIsRunningOutput || selector == kAudioProcessPropertyOutputDevice));
  if (!supported) return kAudioHardwareUnknownPropertyError;
  if (!block) return kAudioHardwareIllegalOperationError;
  if (auto it = listenerFaults_.find(selector); it != listenerFaults_.end() && it->second.consume()) {
    return kAudioHardwareUnspecifiedError;
  }
  listeners_.push_back(Listener{object, selector, std::move(queue), std::move(block)});
  return kAudioHardwareNoError;
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

AudioDeviceID SimAudio::deviceOfLocked(const Stream& stream) const {
  return stream.pin.value_or(default_);
}

SimAudio::Placement SimAudio::placementLocked() const {
  Placement placement;
  for (const auto& s : streams_)
    placement[s.id] = deviceOfLocked(s);
  return placement;
}

void SimAudio::collectMovesLocked(const Placement& before, Pending& pending) const {
  for (const auto& s : streams_) {
    const AudioDeviceID now = deviceOfLocked(s);
    const auto was = before.find(s.id);
    if (was == before.end() || was->second == now) continue;
    pending.movedStreams.push_back({s.id, was->second, now});
    collectLocked(s.id, kAudioProcessPropertyOutputDevice, pending);
  }
}

OSStatus SimAudio::moveStreamLocked(Stream& stream, AudioDeviceID device, Pending& pending) {
  const Device* dev = findDeviceLocked(device);
  if (!dev || !dev->outputs || !stream.movable) return kAudioHardwareIllegalOperationError;
  const Placement before = placementLocked();
  if (device == default_) {
    stream.pin.reset();
  } else {
    stream.pin = device;
  }
  collectMovesLocked(before, pending);
  return kAudioHardwareNoError;
}

void SimAudio::collectLocked(AudioObjectID object, AudioObjectPropertySelector selector, Pending& pending) const {
  for (const auto& l : listeners_) {
    if (l.object == object && l.selector == selector) pending.listeners.push_back(l);
  }
}

void SimAudio::deliver(Pending pending) {
  if (pending.newDefault && onDefaultDeviceChanged) onDefaultDeviceChanged(*pending.newDefault);
  for (const auto& move : pending.movedStreams) {
    if (onStreamDeviceChanged) onStreamDeviceChanged(move.stream, move.from, move.to);
  }
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

}  // namespace velmora::sim
