#pragma once

// Which of the user's speaker bindings applies to a connected display.
//
// A binding names its monitor by maker, model and serial, and by the port it
// was plugged into. The port decides only between twins: identical monitors
// without serials, or any monitor whose EDID tells nothing.

#include <optional>
#include <string>
#include <vector>

#include "platform/SpeakerChoices.h"

namespace velmora {

// Whether the identity says anything a binding could be keyed by.
bool canBeBound(const DisplayIdentity& display);

// The binding of display, given every connected display; none when no
// binding names it, or when twins leave it open which one a binding meant.
std::optional<SpeakerBinding> bindingFor(const DisplayIdentity& display, const std::vector<DisplayIdentity>& connected,
                                         const std::vector<SpeakerBinding>& bindings);

// The user chose deviceUID for display (none: back to automatic pairing).
// The binding that applied to display goes, and with it any other for the
// very same identity; the others stay, absent displays' included.
std::vector<SpeakerBinding> withChoice(std::vector<SpeakerBinding> bindings, const DisplayIdentity& display,
                                       const std::vector<DisplayIdentity>& connected,
                                       const std::optional<std::string>& deviceUID);
void chooseSpeakers(SpeakerChoices& choices, const DisplayIdentity& display,
                    const std::vector<DisplayIdentity>& connected, const std::optional<std::string>& deviceUID);

}  // namespace velmora
