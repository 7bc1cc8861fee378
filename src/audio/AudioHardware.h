#pragma once

// The program's audio operations, written over AudioObjects only. Holds no
// state beyond the back end it talks to; every call asks afresh and a failed
// call becomes its neutral value.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioObjects.h"
#include "platform/Types.h"

namespace velmora {

class SerialQueue;

class AudioHardware {
 public:
  AudioHardware() = default;
  explicit AudioHardware(std::shared_ptr<AudioObjects> objects) : objects_(std::move(objects)) {}

  AudioDeviceID defaultOutputDevice() const;
  OSStatus setDefaultOutputDevice(AudioDeviceID device) const;
  // The block runs on a back-end thread.
  OSStatus addDefaultOutputDeviceListener(std::function<void()> block) const;
  // The block runs on queue. The back end's own thread never holds anything
  // the block captures beyond the block itself.
  OSStatus addDefaultOutputDeviceListener(std::shared_ptr<SerialQueue> queue, std::function<void()> block) const;
  std::vector<AudioDeviceID> outputDevices() const;
  std::optional<std::string> deviceName(AudioDeviceID device) const;
  bool canBeDefaultOutputDevice(AudioDeviceID device) const;
  bool deviceIsAlive(AudioDeviceID device) const;
  std::uint32_t transportType(AudioDeviceID device) const;
  static std::string fourCharCodeText(std::uint32_t code);
  std::vector<AudioObjectID> processObjects() const;
  bool processIsRunningOutput(AudioObjectID process) const;
  std::optional<Pid> processPID(AudioObjectID process) const;
  std::optional<std::string> processBundleID(AudioObjectID process) const;
  OSStatus addProcessListListener(std::shared_ptr<SerialQueue> queue, std::function<void()> block) const;
  OSStatus addProcessRunningOutputListener(AudioObjectID process, std::shared_ptr<SerialQueue> queue,
                                           std::function<void()> block) const;
  // The device the process object's output plays on; 0 when the read fails.
  AudioDeviceID processOutputDevice(AudioObjectID process) const;
  // Moves the process object's output to device; the status of the write.
  OSStatus setProcessOutputDevice(AudioObjectID process, AudioDeviceID device) const;
  OSStatus addProcessOutputDeviceListener(AudioObjectID process, std::shared_ptr<SerialQueue> queue,
                                          std::function<void()> block) const;

 private:
  // The monitor's listener blocks hold the back end weakly, since the back end
  // holds the blocks.
  friend class AudioProcessMonitor;

  std::shared_ptr<AudioObjects> objects_;
};

}  // namespace velmora
