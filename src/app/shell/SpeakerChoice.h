#pragma once

// What the shell does with the speakers menus: carries out the user's pick,
// and says which stored choices wait for their display or device.

#include <string>
#include <vector>

#include "app/shell/StatusMenuModel.h"
#include "display/DisplaySpeakers.h"
#include "platform/SpeakerChoices.h"

namespace velmora::app {

// Binds the picked device to the display, or gives the display back to
// automatic pairing, by the identities the displays have now. False when the
// pick names a display or device that is gone, or a device without a stable
// name; nothing changes then.
bool applySpeakerPick(SpeakerChoices& choices, const DisplaySpeakers& speakers, const SpeakerPick& pick);

// A line for each stored choice that does not apply now, saying why: its
// display is not connected (or is one of twins it cannot tell apart), or its
// device is not there.
std::vector<std::string> waitingChoices(const std::vector<SpeakerBinding>& bindings, const DisplaySpeakers& speakers);

// "maker model serial on connector", with what is known.
std::string describeDisplay(const DisplayIdentity& display);

}  // namespace velmora::app
