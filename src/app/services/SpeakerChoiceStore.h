#pragma once

// The speakers the user chose for displays, kept in the preferences as a
// list of {maker, model, serial, connector, device} entries.

#include <QSettings>
#include <memory>
#include <vector>

#include "platform/SpeakerChoices.h"

namespace velmora::app {

inline constexpr const char* kSpeakerChoicesKey = "co.quennet.velmora.speakerChoices";

// The stored choices. Entries that are corrupt (no device, no identity, a
// value that is not text) or beyond a sane count are left out, with one log
// line for all of them; the rest are kept in order.
std::vector<SpeakerBinding> loadSpeakerBindings(QSettings& settings);

// Replaces the stored list and writes the preferences at once; false when
// they could not be written.
bool storeSpeakerBindings(QSettings& settings, const std::vector<SpeakerBinding>& bindings);

// The user's choices from the preferences, written back on every change.
std::shared_ptr<SpeakerChoices> makeStoredSpeakerChoices();

}  // namespace velmora::app
