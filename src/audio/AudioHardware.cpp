#include "audio/AudioHardware.h"

#include <utility>

namespace velmora {

namespace {

constexpr AudioObjectPropertyAddress globalAddress(AudioObjectPropertySelector selector) {
  return {selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};
}

constexpr AudioObjectPropertyAddress outputAddress(AudioObjectPropertySelector selector) {
  return {selector, kAudioObjectPropertyScopeOutput, kAudioObjectPropertyElementMain};
}

// A size query announcing more ids than this is not believed: it would have us
// allocate whatever a misbehaving back end claims (up to 4 GiB).
constexpr std::uint32_t kMaxListedObjects = 1u << 20;

// Size query, then a zeroed buffer of that many ids filled by one read. The
// count comes from the size query even when the read returns fewer bytes.
std::vector<AudioObjectID> readIDList(AudioObjects& objects, AudioObjectPropertySelector selector) {
  const auto address = globalAddress(selector);
  std::uint32_t size = 0;
  if (objects.getPropertyDataSize(kAudioObjectSystemObject, address, size) != kAudioHardwareNoError) return {};
  const std::uint32_t count = size / sizeof(AudioObjectID);
  if (count == 0 || count > kMaxListedObjects) return {};
  std::vector<AudioObjectID> ids(count, kAudioObjectUnknown);
  std::uint32_t ioSize = count * static_cast<std::uint32_t>(sizeof(AudioObjectID));
  if (objects.getPropertyData(kAudioObjectSystemObject, address, ioSize, ids.data()) != kAudioHardwareNoError) {
    return {};
  }
  return ids;
}

// A 32-bit value read into storage that starts at 0.
template <typename T>
std::optional<T> readScalar(AudioObjects& objects, AudioObjectID object, const AudioObjectPropertyAddress& address) {
  static_assert(sizeof(T) == 4);
  T value = 0;
  std::uint32_t size = sizeof(T);
  if (objects.getPropertyData(object, address, size, &value) != kAudioHardwareNoError) return std::nullopt;
  return value;
}

bool readFlag(AudioObjects& objects, AudioObjectID object, const AudioObjectPropertyAddress& address) {
  return readScalar<std::uint32_t>(objects, object, address).value_or(0) != 0;
}

std::optional<std::string> readString(AudioObjects& objects, AudioObjectID object,
                                      const AudioObjectPropertyAddress& address) {
  AudioStringRef ref;
  std::uint32_t size = kAudioStringRefSize;
  if (objects.getPropertyString(object, address, size, ref) != kAudioHardwareNoError) return std::nullopt;
  return ref;
}

AudioObjectPropertyListenerBlock ignoringAddresses(std::function<void()> block) {
  return [block = std::move(block)](std::uint32_t, const AudioObjectPropertyAddress*) {
    if (block) block();
  };
}

}  // namespace

AudioDeviceID AudioHardware::defaultOutputDevice() const {
  if (!objects_) return kAudioObjectUnknown;
  return readScalar<AudioDeviceID>(*objects_, kAudioObjectSystemObject,
                                   globalAddress(kAudioHardwarePropertyDefaultOutputDevice))
      .value_or(kAudioObjectUnknown);
}

OSStatus AudioHardware::setDefaultOutputDevice(AudioDeviceID device) const {
  if (!objects_) return kAudioHardwareNotRunningError;
  return objects_->setPropertyData(kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDefaultOutputDevice),
                                   sizeof(device), &device);
}

OSStatus AudioHardware::addDefaultOutputDeviceListener(std::function<void()> block) const {
  return addDefaultOutputDeviceListener(nullptr, std::move(block));
}

OSStatus AudioHardware::addDefaultOutputDeviceListener(std::shared_ptr<SerialQueue> queue,
                                                       std::function<void()> block) const {
  if (!objects_) return kAudioHardwareNotRunningError;
  return objects_->addPropertyListenerBlock(kAudioObjectSystemObject,
                                            globalAddress(kAudioHardwarePropertyDefaultOutputDevice), std::move(queue),
                                            ignoringAddresses(std::move(block)));
}

std::vector<AudioDeviceID> AudioHardware::outputDevices() const {
  if (!objects_) return {};
  std::vector<AudioDeviceID> devices = readIDList(*objects_, kAudioHardwarePropertyDevices);
  std::vector<AudioDeviceID> result;
  result.reserve(devices.size());
  for (AudioDeviceID device : devices) {
    // Only the size tells whether the device has output streams; the
    // configuration itself is never needed.
    std::uint32_t size = 0;
    if (objects_->getPropertyDataSize(device, outputAddress(kAudioDevicePropertyStreamConfiguration), size) ==
            kAudioHardwareNoError &&
        size != 0) {
      result.push_back(device);
    }
  }
  return result;
}

std::optional<std::string> AudioHardware::deviceName(AudioDeviceID device) const {
  if (!objects_) return std::nullopt;
  return readString(*objects_, device, globalAddress(kAudioObjectPropertyName));
}

bool AudioHardware::canBeDefaultOutputDevice(AudioDeviceID device) const {
  if (!objects_) return false;
  return readFlag(*objects_, device, outputAddress(kAudioDevicePropertyDeviceCanBeDefaultDevice));
}

bool AudioHardware::deviceIsAlive(AudioDeviceID device) const {
  if (!objects_) return false;
  return readFlag(*objects_, device, globalAddress(kAudioDevicePropertyDeviceIsAlive));
}

std::uint32_t AudioHardware::transportType(AudioDeviceID device) const {
  if (!objects_) return 0;
  return readScalar<std::uint32_t>(*objects_, device, globalAddress(kAudioDevicePropertyTransportType)).value_or(0);
}

std::string AudioHardware::fourCharCodeText(std::uint32_t code) {
  std::string text(4, '\0');
  for (int i = 0; i < 4; ++i)
    text[static_cast<std::size_t>(i)] = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
  return text;
}

std::vector<AudioObjectID> AudioHardware::processObjects() const {
  if (!objects_) return {};
  return readIDList(*objects_, kAudioHardwarePropertyProcessObjectList);
}

bool AudioHardware::processIsRunningOutput(AudioObjectID process) const {
  if (!objects_) return false;
  return readFlag(*objects_, process, globalAddress(kAudioProcessPropertyIsRunningOutput));
}

std::optional<Pid> AudioHardware::processPID(AudioObjectID process) const {
  if (!objects_) return std::nullopt;
  return readScalar<Pid>(*objects_, process, globalAddress(kAudioProcessPropertyPID));
}

std::optional<std::string> AudioHardware::processBundleID(AudioObjectID process) const {
  if (!objects_) return std::nullopt;
  auto bundleID = readString(*objects_, process, globalAddress(kAudioProcessPropertyBundleID));
  if (bundleID && bundleID->empty()) return std::nullopt;
  return bundleID;
}

OSStatus AudioHardware::addProcessListListener(std::shared_ptr<SerialQueue> queue, std::function<void()> block) const {
  if (!objects_) return kAudioHardwareNotRunningError;
  return objects_->addPropertyListenerBlock(kAudioObjectSystemObject,
                                            globalAddress(kAudioHardwarePropertyProcessObjectList), std::move(queue),
                                            ignoringAddresses(std::move(block)));
}

OSStatus AudioHardware::addProcessRunningOutputListener(AudioObjectID process, std::shared_ptr<SerialQueue> queue,
                                                        std::function<void()> block) const {
  if (!objects_) return kAudioHardwareNotRunningError;
  return objects_->addPropertyListenerBlock(process, globalAddress(kAudioProcessPropertyIsRunningOutput),
                                            std::move(queue), ignoringAddresses(std::move(block)));
}

AudioDeviceID AudioHardware::processOutputDevice(AudioObjectID process) const {
  if (!objects_) return kAudioObjectUnknown;
  return readScalar<AudioDeviceID>(*objects_, process, globalAddress(kAudioProcessPropertyOutputDevice))
      .value_or(kAudioObjectUnknown);
}

OSStatus AudioHardware::setProcessOutputDevice(AudioObjectID process, AudioDeviceID device) const {
  if (!objects_) return kAudioHardwareNotRunningError;
  return objects_->setPropertyData(process, globalAddress(kAudioProcessPropertyOutputDevice), sizeof(device), &device);
}

OSStatus AudioHardware::addProcessOutputDeviceListener(AudioObjectID process, std::shared_ptr<SerialQueue> queue,
                                                       std::function<void()> block) const {
  if (!objects_) return kAudioHardwareNotRunningError;
  return objects_->addPropertyListenerBlock(process, globalAddress(kAudioProcessPropertyOutputDevice), std::move(queue),
                                            ignoringAddresses(std::move(block)));
}

}  // namespace velmora
