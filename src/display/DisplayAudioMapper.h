#pragma once

// Stateless display queries: the screen catalogue, pairing displays with
// their speakers by name, and which display holds a window.
//
// A display's speakers are the device that names the display: the one whose
// name holds the display's whole name as a run of whole words. Where several
// do, or none does, the device sharing the most long words (4 or more
// characters) with the display's name is taken, and the first of a tie.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "audio/AudioHardware.h"
#include "display/ScreenInfo.h"
#include "display/SpeakerPairing.h"
#include "platform/Screens.h"

namespace velmora {

class DisplayAudioMapper {
 public:
  DisplayAudioMapper() = default;
  DisplayAudioMapper(AudioHardware audio, std::shared_ptr<ScreensSource> screens)
      : audio_(std::move(audio)), screens_(std::move(screens)) {}

  std::vector<ScreenInfo> currentScreens() const;

  static std::vector<std::string> nameTokens(std::string_view name);
  // Case-insensitive under the user's locale; accents stay distinct.
  static bool tokensEqual(std::string_view a, std::string_view b);

  std::optional<SpeakerPairing> pairSpeakers(std::string_view displayName,
                                             const std::vector<AudioDeviceID>& candidates) const;
  std::optional<AudioDeviceID> bestDevice(std::string_view displayName,
                                          const std::vector<AudioDeviceID>& candidates) const;
  DisplayPairings buildPairings() const;
  DisplayMap buildDisplayMap() const;

  static std::optional<AudioDeviceID> deviceForWindow(const std::vector<ScreenInfo>& screens, const DisplayMap& map,
                                                      const Rect& window);
  static std::optional<DisplayID> displayForWindow(const std::vector<ScreenInfo>& screens, const Rect& window);

 private:
  AudioHardware audio_;
  std::shared_ptr<ScreensSource> screens_;
};

}  // namespace velmora
