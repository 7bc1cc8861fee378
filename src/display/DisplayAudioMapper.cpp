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

std::optional<AudioDeviceID> DisplayAudioMapper::bestDevice(std::string_view displayName,
                                                            const std::vector<AudioDeviceID>& candidates) const {
  const std::vector<icu::UnicodeString> displayTokens = nametext::tokens(nametext::decode(displayName));
  if (candidates.empty()) return std::nullopt;

  std::optional<AudioDeviceID> best;
  int bestScore = 0;
  for (AudioDeviceID device : candidates) {
    const std::optional<std::string> name = audio_.deviceName(device);
    if (!name) continue;
    const std::vector<icu::UnicodeString> deviceTokens = nametext::tokens(nametext::decode(*name));
    int score = 0;
    for (const icu::UnicodeString& displayToken : displayTokens) {
      for (const icu::UnicodeString& deviceToken : deviceTokens) {
        if (nametext::equalIgnoringCase(displayToken, deviceToken)) {
          ++score;
          break;
        }
      }
    }
    // Strictly greater: the first device keeps a tie.
    if (score > bestScore) {
      best = device;
      bestScore = score;
    }
  }
  return bestScore > 0 ? best : std::nullopt;
}

DisplayMap DisplayAudioMapper::buildDisplayMap() const {
  std::vector<AudioDeviceID> candidates;
  for (AudioDeviceID device : audio_.outputDevices()) {
    if (audio_.canBeDefaultOutputDevice(device)) candidates.push_back(device);
  }
  DisplayMap map;
  forEachUsableScreen(screens_, [&](DisplayID id, const PlatformScreen& screen) {
    if (const std::optional<AudioDeviceID> device = bestDevice(screen.localizedName, candidates)) {
      map[id] = *device;
    }
  });
  return map;
}

}  // namespace velmora
