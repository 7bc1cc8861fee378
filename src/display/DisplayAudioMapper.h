#pragma once

// Stateless display queries: the screen catalogue, pairing displays with
// their speakers by name, and which display holds a window.
//
// A display's speakers are, in this order: the device the user bound to it;
// the one device whose monitor calls itself by the display's name in its ELD;
// the device that names the display, whose name holds the display's whole
// name as a run of whole words. Where several do, or none does, the device
// sharing the most long words (4 or more characters) with the display's name
// is taken, and the first of a tie.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "audio/AudioHardware.h"
#include "display/DisplaySpeakers.h"
#include "display/ScreenInfo.h"
#include "display/SpeakerPairing.h"
#include "platform/Screens.h"
#include "platform/SpeakerChoices.h"

namespace velmora {

class DisplayAudioMapper {
 public:
  DisplayAudioMapper() = default;
  DisplayAudioMapper(AudioHardware audio, std::shared_ptr<ScreensSource> screens,
                     std::shared_ptr<SpeakerChoices> choices = nullptr)
      : audio_(std::move(audio)), screens_(std::move(screens)), choices_(std::move(choices)) {}

  std::vector<ScreenInfo> currentScreens() const;
  static std::vector<ScreenInfo> usableScreens(const std::vector<PlatformScreen>& screens);

  static std::vector<std::string> nameTokens(std::string_view name);
  // Case-insensitive under the user's locale; accents stay distinct.
  static bool tokensEqual(std::string_view a, std::string_view b);

  std::optional<SpeakerPairing> pairSpeakers(std::string_view displayName,
                                             const std::vector<AudioDeviceID>& candidates) const;
  std::optional<AudioDeviceID> bestDevice(std::string_view displayName,
                                          const std::vector<AudioDeviceID>& candidates) const;
  // The devices a display can be paired with: output devices that can be
  // the default, in system order.
  std::vector<AudioDeviceID> candidateDevices() const;
  DisplayPairings buildPairings() const;
  DisplayPairings buildPairings(const std::vector<PlatformScreen>& screens,
                                const std::vector<AudioDeviceID>& candidates) const;
  DisplayMap buildDisplayMap() const;
  // The displays with their pairings and the devices to choose from, for
  // screens as read and the candidates of candidateDevices().
  DisplaySpeakers displaySpeakers(const std::vector<PlatformScreen>& screens,
                                  const std::vector<AudioDeviceID>& candidates, const DisplayPairings& pairings) const;
  std::vector<PlatformScreen> readScreens() const;

  static std::optional<AudioDeviceID> deviceForWindow(const std::vector<ScreenInfo>& screens, const DisplayMap& map,
                                                      const Rect& window);
  static std::optional<DisplayID> displayForWindow(const std::vector<ScreenInfo>& screens, const Rect& window);

 private:
  AudioHardware audio_;
  std::shared_ptr<ScreensSource> screens_;
  std::shared_ptr<SpeakerChoices> choices_;
};

}  // namespace velmora
