#include "display/DisplayAudioMapper.h"

#include "display/NameText.h"

namespace velmora {

namespace {

template <class Visit>
void forEachUsableScreen(const std::shared_ptr<ScreensSource>& source, Visit&& visit) {
  if (!source) return;
  for (const PlatformScreen& screen : source->screens()) {
    // A screen without a usable number cannot be keyed; it is left out.
    const std::optional<DisplayID> id = toUInt32(screen.screenNumber);
    if (!id) continue;
    visit(*id, screen);
  }
}

}  // namespace

std::vector<ScreenInfo> DisplayAudioMapper::currentScreens() const {
  std::vector<ScreenInfo> result;
  forEachUsableScreen(screens_, [&](DisplayID id, const PlatformScreen& screen) {
    result.push_back(ScreenInfo{id, screen.frame, screen.localizedName});
  });
  return result;
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

DisplayPairings DisplayAudioMapper::buildPairings() const {
  std::vector<AudioDeviceID> candidates;
  for (AudioDeviceID device : audio_.outputDevices()) {
    if (audio_.canBeDefaultOutputDevice(device)) candidates.push_back(device);
  }
  DisplayPairings pairings;
  forEachUsableScreen(screens_, [&](DisplayID id, const PlatformScreen& screen) {
    if (const std::optional<SpeakerPairing> pairing = pairSpeakers(screen.localizedName, candidates)) {
      pairings[id] = *pairing;
    }
  });
  return pairings;
}

DisplayMap DisplayAudioMapper::buildDisplayMap() const {
  DisplayMap map;
  for (const auto& [id, pairing] : buildPairings())
    map[id] = pairing.device;
  return map;
}

}  // namespace velmora
