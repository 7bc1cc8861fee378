#include "display/DisplayAudioMapper.h"

#include "display/NameText.h"
#include "display/SpeakerBindings.h"

namespace velmora {

namespace {

template <class Visit>
void forEachUsableScreen(const std::vector<PlatformScreen>& screens, Visit&& visit) {
  for (const PlatformScreen& screen : screens) {
    // A screen without a usable number cannot be keyed; it is left out.
    const std::optional<DisplayID> id = toUInt32(screen.screenNumber);
    if (!id) continue;
    visit(*id, screen);
  }
}

}  // namespace

std::vector<ScreenInfo> DisplayAudioMapper::currentScreens() const {
  return usableScreens(readScreens());
}

std::vector<ScreenInfo> DisplayAudioMapper::usableScreens(const std::vector<PlatformScreen>& screens) {
  std::vector<ScreenInfo> result;
  forEachUsableScreen(screens, [&](DisplayID id, const PlatformScreen& screen) {
    result.push_back(ScreenInfo{id, screen.frame, screen.localizedName});
  });
  return result;
}

std::vector<PlatformScreen> DisplayAudioMapper::readScreens() const {
  return screens_ ? screens_->screens() : std::vector<PlatformScreen>{};
}

std::vector<std::string> DisplayAudioMapper::nameTokens(std::string_view name) {
  std::vector<std::string> result;
  for (const icu::UnicodeString& token : nametext::tokens(nametext::decode(name))) {
    result.push_back(nametext::encode(token));
  }
  return result;
}

bool DisplayAudioMapper::tokensEqual(std::string_view a, std::string_view b) {
  return nametext::equalIgnoringCase(nametext::decode(a), nametext::decode(b));
}

std::optional<SpeakerPairing> DisplayAudioMapper::pairSpeakers(std::string_view displayName,
                                                               const std::vector<AudioDeviceID>& candidates) const {
  const std::vector<icu::UnicodeString> displayWords = nametext::words(nametext::decode(displayName));
  const std::vector<icu::UnicodeString> displayTokens = nametext::longWords(displayWords);
  // A lone short word ("LG", "TV") turns up in too many device names to say
  // which display they belong to.
  const bool wholeNameCounts = displayWords.size() > 1 || !displayTokens.empty();
  if (candidates.empty()) return std::nullopt;

  // The monitor's own name, exactly: it comes from the same EDID as the
  // display's. Two devices with it leave the choice to the rules below.
  const icu::UnicodeString wanted = nametext::trimmed(nametext::decode(displayName));
  std::optional<AudioDeviceID> byEld;
  int eldMatches = 0;
  if (!wanted.isEmpty()) {
    for (AudioDeviceID device : candidates) {
      const std::optional<std::string> monitor = audio_.deviceMonitorName(device);
      if (monitor && nametext::equalIgnoringCase(nametext::trimmed(nametext::decode(*monitor)), wanted)) {
        byEld = device;
        ++eldMatches;
      }
    }
  }
  if (eldMatches == 1) return SpeakerPairing{*byEld, PairingBasis::eldName};

  std::optional<AudioDeviceID> mostShared;
  int mostSharedScore = 0;
  std::optional<AudioDeviceID> naming;
  int namingScore = 0;
  for (AudioDeviceID device : candidates) {
    const std::optional<std::string> name = audio_.deviceName(device);
    if (!name) continue;
    const std::vector<icu::UnicodeString> deviceWords = nametext::words(nametext::decode(*name));
    const std::vector<icu::UnicodeString> deviceTokens = nametext::longWords(deviceWords);
    int score = 0;
    for (const icu::UnicodeString& displayToken : displayTokens) {
      for (const icu::UnicodeString& deviceToken : deviceTokens) {
        if (nametext::equalIgnoringCase(displayToken, deviceToken)) {
          ++score;
          break;
        }
      }
    }
    // Strictly greater: the first device keeps a tie, in both rankings.
    if (score > mostSharedScore) {
      mostShared = device;
      mostSharedScore = score;
    }
    if (wholeNameCounts && nametext::containsRun(deviceWords, displayWords) && (!naming || score > namingScore)) {
      naming = device;
      namingScore = score;
    }
  }
  if (naming) return SpeakerPairing{*naming, PairingBasis::wholeName};
  if (mostSharedScore > 0) return SpeakerPairing{*mostShared, PairingBasis::sharedWords};
  return std::nullopt;
}

std::optional<AudioDeviceID> DisplayAudioMapper::bestDevice(std::string_view displayName,
                                                            const std::vector<AudioDeviceID>& candidates) const {
  const std::optional<SpeakerPairing> pairing = pairSpeakers(displayName, candidates);
  if (!pairing) return std::nullopt;
  return pairing->device;
}

std::vector<AudioDeviceID> DisplayAudioMapper::candidateDevices() const {
  std::vector<AudioDeviceID> candidates;
  for (AudioDeviceID device : audio_.outputDevices()) {
    if (audio_.canBeDefaultOutputDevice(device)) candidates.push_back(device);
  }
  return candidates;
}

DisplayPairings DisplayAudioMapper::buildPairings() const {
  return buildPairings(readScreens(), candidateDevices());
}

DisplayPairings DisplayAudioMapper::buildPairings(const std::vector<PlatformScreen>& screens,
                                                  const std::vector<AudioDeviceID>& candidates) const {
  const std::vector<SpeakerBinding> bindings = choices_ ? choices_->bindings() : std::vector<SpeakerBinding>{};
  std::vector<DisplayIdentity> connected;
  if (!bindings.empty()) {
    forEachUsableScreen(screens,
                        [&](DisplayID, const PlatformScreen& screen) { connected.push_back(screen.identity); });
  }
  // A bound device counts only while it is here and can be the default.
  auto boundDevice = [&](const PlatformScreen& screen) -> std::optional<AudioDeviceID> {
    if (bindings.empty()) return std::nullopt;
    const std::optional<SpeakerBinding> binding = bindingFor(screen.identity, connected, bindings);
    if (!binding) return std::nullopt;
    for (AudioDeviceID device : candidates) {
      if (audio_.deviceUID(device) == binding->deviceUID) return device;
    }
    return std::nullopt;
  };

  DisplayPairings pairings;
  forEachUsableScreen(screens, [&](DisplayID id, const PlatformScreen& screen) {
    if (const std::optional<AudioDeviceID> bound = boundDevice(screen)) {
      pairings[id] = SpeakerPairing{*bound, PairingBasis::userChoice};
    } else if (const std::optional<SpeakerPairing> pairing = pairSpeakers(screen.localizedName, candidates)) {
      pairings[id] = *pairing;
    }
  });
  return pairings;
}

DisplaySpeakers DisplayAudioMapper::displaySpeakers(const std::vector<PlatformScreen>& screens,
                                                    const std::vector<AudioDeviceID>& candidates,
                                                    const DisplayPairings& pairings) const {
  DisplaySpeakers result;
  forEachUsableScreen(screens, [&](DisplayID id, const PlatformScreen& screen) {
    const auto pairing = pairings.find(id);
    DisplaySpeakersEntry entry{id, screen.localizedName, screen.identity};
    if (pairing != pairings.end()) entry.pairing = pairing->second;
    if (entry.pairing && entry.pairing->basis != PairingBasis::userChoice) {
      entry.automatic = entry.pairing->device;
    } else if (auto byName = pairSpeakers(screen.localizedName, candidates)) {
      entry.automatic = byName->device;
    }
    result.displays.push_back(std::move(entry));
  });
  for (AudioDeviceID device : candidates) {
    const std::optional<std::string> name = audio_.deviceName(device);
    if (!name) continue;
    result.devices.push_back({device, *name, audio_.deviceUID(device)});
  }
  return result;
}

DisplayMap DisplayAudioMapper::buildDisplayMap() const {
  DisplayMap map;
  for (const auto& [id, pairing] : buildPairings())
    map[id] = pairing.device;
  return map;
}

}  // namespace velmora
