#pragma once

// What the shell needs to let the user choose a display's speakers: each
// connected display with the speakers it is paired with now, and the devices
// it could be paired with.

#include <optional>
#include <string>
#include <vector>

#include "display/SpeakerPairing.h"
#include "platform/Screens.h"

namespace velmora {

struct DisplaySpeakersEntry {
  DisplayID displayID = 0;
  std::string name;
  DisplayIdentity identity;
  std::optional<SpeakerPairing> pairing = std::nullopt;
  // What the display's name alone pairs it with, choice or not.
  std::optional<AudioDeviceID> automatic = std::nullopt;

  friend bool operator==(const DisplaySpeakersEntry&, const DisplaySpeakersEntry&) = default;
};

struct SpeakerDevice {
  AudioDeviceID id = 0;
  std::string name;
  // None: the device has no stable name and cannot be bound.
  std::optional<std::string> uid;

  friend bool operator==(const SpeakerDevice&, const SpeakerDevice&) = default;
};

struct DisplaySpeakers {
  // In the platform's screen order.
  std::vector<DisplaySpeakersEntry> displays;
  // Output devices that can be the default, in system order.
  std::vector<SpeakerDevice> devices;

  friend bool operator==(const DisplaySpeakers&, const DisplaySpeakers&) = default;
};

}  // namespace velmora
