#pragma once

#include <map>

#include "platform/AudioObjects.h"
#include "platform/Types.h"

namespace velmora {

// What tied a display to its speakers.
enum class PairingBasis {
  // The user bound the device to this display by hand.
  userChoice,
  // The monitor's own name in the device's ELD is the display's name.
  eldName,
  // The device names this display: its name holds the display's whole name.
  wholeName,
  // The device's name shares the most long words with the display's name.
  sharedWords,
};

struct SpeakerPairing {
  AudioDeviceID device = 0;
  PairingBasis basis = PairingBasis::sharedWords;

  friend bool operator==(const SpeakerPairing&, const SpeakerPairing&) = default;
};

// Display id -> its speakers and what paired them.
using DisplayPairings = std::map<DisplayID, SpeakerPairing>;

}  // namespace velmora
