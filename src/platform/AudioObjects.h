#pragma once

// The audio platform's object model: objects addressed by id, properties
// addressed by {selector, scope, element}, four calls and listeners. Every
// back end (simulated, PulseAudio) implements this; AudioHardware is the only
// user.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velmora {

class SerialQueue;

using AudioObjectID = std::uint32_t;
using AudioDeviceID = AudioObjectID;
using OSStatus = std::int32_t;
using AudioObjectPropertySelector = std::uint32_t;
using AudioObjectPropertyScope = std::uint32_t;
using AudioObjectPropertyElement = std::uint32_t;

// Four ASCII characters packed with the first one most significant.
constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

struct AudioObjectPropertyAddress {
  AudioObjectPropertySelector mSelector = 0;
  AudioObjectPropertyScope mScope = 0;
  AudioObjectPropertyElement mElement = 0;

  friend bool operator==(const AudioObjectPropertyAddress&, const AudioObjectPropertyAddress&) = default;
};

constexpr OSStatus kAudioHardwareNoError = 0;
// Statuses our back ends return; callers never look past "non-zero".
constexpr OSStatus kAudioHardwareUnspecifiedError = static_cast<OSStatus>(fourCharCode("what"));
constexpr OSStatus kAudioHardwareBadObjectError = static_cast<OSStatus>(0x21303921);  // '!0!!'
constexpr OSStatus kAudioHardwareUnknownPropertyError = static_cast<OSStatus>(fourCharCode("who?"));
constexpr OSStatus kAudioHardwareIllegalOperationError = static_cast<OSStatus>(fourCharCode("nope"));
constexpr OSStatus kAudioHardwareBadPropertySizeError = static_cast<OSStatus>(0x2173697a);  // '!siz'
constexpr OSStatus kAudioHardwareNotRunningError = static_cast<OSStatus>(fourCharCode("stop"));

constexpr AudioObjectID kAudioObjectUnknown = 0;
constexpr AudioObjectID kAudioObjectSystemObject = 1;

constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeGlobal = fourCharCode("glob");
constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeOutput = fourCharCode("outp");
constexpr AudioObjectPropertyElement kAudioObjectPropertyElementMain = 0;

constexpr AudioObjectPropertySelector kAudioHardwarePropertyDevices = fourCharCode("dev#");
constexpr AudioObjectPropertySelector kAudioHardwarePropertyDefaultOutputDevice = fourCharCode("dOut");
constexpr AudioObjectPropertySelector kAudioHardwarePropertyProcessObjectList = fourCharCode("prs#");
constexpr AudioObjectPropertySelector kAudioDevicePropertyStreamConfiguration = fourCharCode("slay");
constexpr AudioObjectPropertySelector kAudioObjectPropertyName = fourCharCode("lnam");
constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceCanBeDefaultDevice = fourCharCode("dflt");
constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceIsAlive = fourCharCode("livn");
constexpr AudioObjectPropertySelector kAudioDevicePropertyTransportType = fourCharCode("tran");
constexpr AudioObjectPropertySelector kAudioProcessPropertyIsRunningOutput = fourCharCode("piro");
constexpr AudioObjectPropertySelector kAudioProcessPropertyPID = fourCharCode("ppid");
constexpr AudioObjectPropertySelector kAudioProcessPropertyBundleID = fourCharCode("pbid");
// The device a process object's output plays on: read, written (which moves
// the stream there) and listened to. A sound server routes each stream on its
// own, and remembers the device a user once chose for an application.
constexpr AudioObjectPropertySelector kAudioProcessPropertyOutputDevice = fourCharCode("pout");

// A string property crosses as an owned copy; nullopt is the null reference.
using AudioStringRef = std::optional<std::string>;

// Byte size of a string reference, as every back end reports it.
constexpr std::uint32_t kAudioStringRefSize = 8;

// The block receives the changed addresses; our callers ignore them.
using AudioObjectPropertyListenerBlock =
    std::function<void(std::uint32_t inNumberAddresses, const AudioObjectPropertyAddress* inAddresses)>;

class AudioObjects {
 public:
  virtual ~AudioObjects() = default;

  virtual OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                       std::uint32_t& outDataSize) = 0;

  // Fills at most ioDataSize bytes of outData and sets ioDataSize to the
  // number of bytes written, which may be fewer than asked.
  virtual OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                   std::uint32_t& ioDataSize, void* outData) = 0;

  // String properties. ioDataSize is kAudioStringRefSize on the way in; the
  // reference may come back null even with status 0.
  virtual OSStatus getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                     std::uint32_t& ioDataSize, AudioStringRef& outString) = 0;

  virtual OSStatus setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                   std::uint32_t dataSize, const void* data) = 0;

  // With a queue the block runs there; with none it runs on a thread of the
  // back end's choosing. Listeners are never removed.
  virtual OSStatus addPropertyListenerBlock(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                            std::shared_ptr<SerialQueue> queue,
                                            AudioObjectPropertyListenerBlock block) = 0;
};

}  // namespace velmora
