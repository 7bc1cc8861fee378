// The model's AudioObjects side: what each property of a sink, a sink input
// and the server reads as, and which listeners are taken.
#include "platform/linux/pulse/PulseModel.h"

#include <algorithm>
#include <cstring>

namespace velmora::linuxos::pulse {
namespace {

OSStatus writeU32(std::uint32_t value, std::uint32_t& ioDataSize, void* outData) {
  if (ioDataSize < sizeof value || !outData) return kAudioHardwareBadPropertySizeError;
  std::memcpy(outData, &value, sizeof value);
  ioDataSize = sizeof value;
  return kAudioHardwareNoError;
}

// As many ids as fit; ioDataSize tells how many bytes were written.
OSStatus writeIds(const std::vector<AudioObjectID>& ids, std::uint32_t& ioDataSize, void* outData) {
  const std::size_t count = std::min<std::size_t>(ids.size(), ioDataSize / sizeof(AudioObjectID));
  if (count && !outData) return kAudioHardwareBadPropertySizeError;
  if (count) std::memcpy(outData, ids.data(), count * sizeof(AudioObjectID));
  ioDataSize = static_cast<std::uint32_t>(count * sizeof(AudioObjectID));
  return kAudioHardwareNoError;
}

constexpr std::uint32_t kStreamConfigurationSize = 2 * sizeof(std::uint32_t);

}  // namespace

OSStatus PulseModel::getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                         std::uint32_t& outDataSize) const {
  std::lock_guard lock(mutex_);
  const bool live = connected_;
  if (object == kAudioObjectSystemObject) {
    switch (address.mSelector) {
      case kAudioHardwarePropertyDevices:
        outDataSize = live ? static_cast<std::uint32_t>(sinks_.size() * sizeof(AudioObjectID)) : 0;
        return kAudioHardwareNoError;
      case kAudioHardwarePropertyProcessObjectList:
        outDataSize = live ? static_cast<std::uint32_t>(streams_.size() * sizeof(AudioObjectID)) : 0;
        return kAudioHardwareNoError;
      case kAudioHardwarePropertyDefaultOutputDevice:
        outDataSize = sizeof(AudioObjectID);
        return kAudioHardwareNoError;
      default:
        return kAudioHardwareUnknownPropertyError;
    }
  }
  if (const Sink* sink = live ? findSinkLocked(object) : nullptr) {
    switch (address.mSelector) {
      case kAudioDevicePropertyStreamConfiguration:
        outDataSize = address.mScope == kAudioObjectPropertyScopeOutput && sink->reply.channels > 0
                          ? kStreamConfigurationSize
                          : 0;
        return kAudioHardwareNoError;
      case kAudioObjectPropertyName:
        outDataSize = kAudioStringRefSize;
        return kAudioHardwareNoError;
      case kAudioDevicePropertyDeviceCanBeDefaultDevice:
      case kAudioDevicePropertyDeviceIsAlive:
      case kAudioDevicePropertyTransportType:
        outDataSize = sizeof(std::uint32_t);
        return kAudioHardwareNoError;
      default:
        return kAudioHardwareUnknownPropertyError;
    }
  }
  if (live && findStreamLocked(object)) {
    switch (address.mSelector) {
      case kAudioProcessPropertyIsRunningOutput:
      case kAudioProcessPropertyPID:
      case kAudioProcessPropertyOutputDevice:
        outDataSize = sizeof(std::uint32_t);
        return kAudioHardwareNoError;
      case kAudioProcessPropertyBundleID:
        outDataSize = kAudioStringRefSize;
        return kAudioHardwareNoError;
      default:
        return kAudioHardwareUnknownPropertyError;
    }
  }
  return kAudioHardwareBadObjectError;
}

OSStatus PulseModel::getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                     std::uint32_t& ioDataSize, void* outData) const {
  if (address.mSelector == kAudioProcessPropertyPID && object != kAudioObjectSystemObject) {
    std::unique_lock lock(mutex_);
    if (const Stream* stream = connected_ ? findStreamLocked(object) : nullptr) {
      std::optional<Pid> pid = streamPidLocked(*stream);
      const std::optional<std::string> appId = streamPortalAppIdLocked(*stream);
      const StreamPidResolver resolver = appId ? pidResolver_ : nullptr;
      // The resolver reads /proc; the server's thread must not wait for that.
      lock.unlock();
      if (resolver) {
        if (auto host = resolver(pid, *appId)) pid = host;
      }
      if (!pid) return kAudioHardwareUnspecifiedError;
      return writeU32(static_cast<std::uint32_t>(*pid), ioDataSize, outData);
    }
  }
  std::lock_guard lock(mutex_);
  const bool live = connected_;
  if (object == kAudioObjectSystemObject) {
    std::vector<AudioObjectID> ids;
    switch (address.mSelector) {
      case kAudioHardwarePropertyDevices:
        if (live) {
          for (const auto& sink : sinks_)
            ids.push_back(sink.id);
        }
        return writeIds(ids, ioDataSize, outData);
      case kAudioHardwarePropertyProcessObjectList:
        if (live) {
          for (const auto& stream : streams_)
            ids.push_back(stream.id);
        }
        return writeIds(ids, ioDataSize, outData);
      case kAudioHardwarePropertyDefaultOutputDevice:
        return writeU32(live ? defaultSinkLocked() : 0, ioDataSize, outData);
      default:
        return kAudioHardwareUnknownPropertyError;
    }
  }
  if (const Sink* sink = live ? findSinkLocked(object) : nullptr) {
    switch (address.mSelector) {
      case kAudioDevicePropertyStreamConfiguration: {
        // One buffer with the sink's channels; only its size matters to us.
        if (address.mScope != kAudioObjectPropertyScopeOutput || sink->reply.channels == 0) {
          ioDataSize = 0;
          return kAudioHardwareNoError;
        }
        if (ioDataSize < kStreamConfigurationSize || !outData) return kAudioHardwareBadPropertySizeError;
        const std::uint32_t layout[2] = {1, sink->reply.channels};
        std::memcpy(outData, layout, sizeof layout);
        ioDataSize = sizeof layout;
        return kAudioHardwareNoError;
      }
      case kAudioDevicePropertyDeviceCanBeDefaultDevice:
        return writeU32(1, ioDataSize, outData);
      case kAudioDevicePropertyDeviceIsAlive:
        return writeU32(sink->reply.activePortUnavailable ? 0 : 1, ioDataSize, outData);
      case kAudioDevicePropertyTransportType:
        return writeU32(transportLocked(*sink), ioDataSize, outData);
      case kAudioObjectPropertyName:
        return kAudioHardwareIllegalOperationError;  // a string: getPropertyString
      default:
        return kAudioHardwareUnknownPropertyError;
    }
  }
  if (const Stream* stream = live ? findStreamLocked(object) : nullptr) {
    switch (address.mSelector) {
      case kAudioProcessPropertyIsRunningOutput:
        return writeU32(stream->reply.corked ? 0 : 1, ioDataSize, outData);
      case kAudioProcessPropertyOutputDevice:
        return writeU32(streamSinkLocked(*stream), ioDataSize, outData);
      case kAudioProcessPropertyBundleID:
        return kAudioHardwareIllegalOperationError;  // a string: getPropertyString
      default:
        return kAudioHardwareUnknownPropertyError;
    }
  }
  return kAudioHardwareBadObjectError;
}

OSStatus PulseModel::getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                       std::uint32_t& ioDataSize, AudioStringRef& outString) const {
  std::lock_guard lock(mutex_);
  if (ioDataSize < kAudioStringRefSize) return kAudioHardwareBadPropertySizeError;
  const Sink* sink = connected_ ? findSinkLocked(object) : nullptr;
  const Stream* stream = connected_ ? findStreamLocked(object) : nullptr;
  if (!sink && !stream) {
    return object == kAudioObjectSystemObject ? kAudioHardwareUnknownPropertyError : kAudioHardwareBadObjectError;
  }
  if (sink && address.mSelector == kAudioObjectPropertyName) {
    outString = sinkDisplayNameLocked(*sink);
  } else if (stream && address.mSelector == kAudioProcessPropertyBundleID) {
    outString = streamBundleIDLocked(*stream);
  } else {
    return kAudioHardwareUnknownPropertyError;
  }
  ioDataSize = kAudioStringRefSize;
  return kAudioHardwareNoError;
}

OSStatus PulseModel::addPropertyListenerBlock(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                              std::shared_ptr<SerialQueue> queue,
                                              AudioObjectPropertyListenerBlock block) {
  std::lock_guard lock(mutex_);
  if (!block) return kAudioHardwareIllegalOperationError;
  if (object == kAudioObjectSystemObject) {
    if (address.mSelector != kAudioHardwarePropertyDefaultOutputDevice &&
        address.mSelector != kAudioHardwarePropertyProcessObjectList) {
      return kAudioHardwareUnknownPropertyError;
    }
  } else if (connected_ && findStreamLocked(object)) {
    if (address.mSelector != kAudioProcessPropertyIsRunningOutput &&
        address.mSelector != kAudioProcessPropertyOutputDevice) {
      return kAudioHardwareUnknownPropertyError;
    }
  } else if (connected_ && findSinkLocked(object)) {
    return kAudioHardwareUnknownPropertyError;
  } else {
    return kAudioHardwareBadObjectError;
  }
  listeners_.push_back(Listener{object, address, std::move(queue), std::move(block)});
  return kAudioHardwareNoError;
}

}  // namespace velmora::linuxos::pulse
