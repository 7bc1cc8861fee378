#include <gtest/gtest.h>

#include "display/DisplayAudioMapper.h"
#include "display/SpeakerBindings.h"
#include "platform/sim/SimAudio.h"
#include "platform/sim/SimScreens.h"

namespace velmora {
namespace {

using sim::SimAudio;

DisplayIdentity monitor(const char* model, std::optional<std::string> serial, const char* connector) {
  return DisplayIdentity{"AST", model, std::move(serial), connector};
}

TEST(SpeakerBindings, WhichBindingAppliesToAConnectedDisplay) {
  const DisplayIdentity u27a = monitor("U27", std::nullopt, "DP-1");
  const DisplayIdentity u27b = monitor("U27", std::nullopt, "DP-2");
  const DisplayIdentity serialA = monitor("Q270", "A1", "DP-1");
  const DisplayIdentity serialB = monitor("Q270", "B2", "DP-2");
  const DisplayIdentity u27hdmi = monitor("U27", std::nullopt, "HDMI-A-1");
  const DisplayIdentity bare1{std::nullopt, std::nullopt, std::nullopt, "HDMI-A-1"};
  struct Case {
    const char* what;
    DisplayIdentity display;
    std::vector<DisplayIdentity> connected;
    std::vector<SpeakerBinding> bindings;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"no bindings", u27a, {u27a}, {}, std::nullopt},
      {"same port", u27a, {u27a}, {{u27a, "tv"}}, "tv"},
      {"other model", u27a, {u27a}, {{monitor("U28", std::nullopt, "DP-1"), "tv"}}, std::nullopt},
      // Twins without serials: the port tells them apart.
      {"twin by port", u27b, {u27a, u27b}, {{u27a, "left"}, {u27b, "right"}}, "right"},
      {"twin unbound", u27b, {u27a, u27b}, {{u27a, "left"}}, std::nullopt},
      // Alone again, a monitor keeps its binding in another port; beside its
      // twin, or with two bindings it could mean, it does not.
      {"re-plugged", u27hdmi, {u27hdmi}, {{u27a, "left"}}, "left"},
      {"re-plugged beside twin", u27hdmi, {u27hdmi, u27b}, {{u27a, "left"}}, std::nullopt},
      {"re-plugged, two bindings", u27hdmi, {u27hdmi}, {{u27a, "left"}, {u27b, "right"}}, std::nullopt},
      // Serials tell monitors apart wherever they are plugged.
      {"serial, swapped ports",
       monitor("Q270", "B2", "DP-1"),
       {monitor("Q270", "B2", "DP-1"), monitor("Q270", "A1", "DP-2")},
       {{serialA, "left"}, {serialB, "right"}},
       "right"},
      // Nothing of the monitor known: the port is all there is.
      {"port only", bare1, {bare1}, {{bare1, "tv"}}, "tv"},
      {"port only, other port", DisplayIdentity{.connector = "HDMI-A-2"}, {}, {{bare1, "tv"}}, std::nullopt},
      {"nothing known", DisplayIdentity{}, {}, {{DisplayIdentity{}, "tv"}}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto binding = bindingFor(c.display, c.connected, c.bindings);
    EXPECT_EQ(binding ? std::optional(binding->deviceUID) : std::nullopt, c.expected);
  }

  // Choosing replaces the binding that applied, even one made in another
  // port; automatic removes it; bindings of absent displays stay.
  const std::vector<SpeakerBinding> stored{{u27a, "left"}, {serialB, "right"}};
  EXPECT_EQ(withChoice(stored, u27hdmi, {u27hdmi}, "tv"),
            (std::vector<SpeakerBinding>{{serialB, "right"}, {u27hdmi, "tv"}}));
  EXPECT_EQ(withChoice(stored, u27hdmi, {u27hdmi}, std::nullopt), (std::vector<SpeakerBinding>{{serialB, "right"}}));
  EXPECT_EQ(withChoice(stored, DisplayIdentity{}, {}, "tv"), stored);
}

TEST(SpeakerBindings, ABindingBeatsNamesWhileItsDeviceIsThere) {
  auto audio = std::make_shared<SimAudio>();
  auto addDevice = [&](AudioDeviceID id, const char* name, const char* uid, bool canBeDefault = true) {
    ASSERT_TRUE(audio->addDevice({.id = id, .name = name, .canBeDefault = canBeDefault, .uid = uid}));
  };
  addDevice(40, "Aster U27 Speakers", "hdmi-1");
  addDevice(41, "Soundbar", "usb-soundbar");
  addDevice(42, "Receiver", "receiver", /*canBeDefault=*/false);
  PlatformScreen aster{PlatformValue{std::int64_t{1}}, Rect{0, 0, 1920, 1080}, "Aster U27"};
  aster.identity = monitor("U27", "7", "DP-1");
  auto screens = std::make_shared<sim::SimScreens>(std::vector<PlatformScreen>{aster});
  auto choices = std::make_shared<SpeakerChoices>();
  const DisplayAudioMapper mapper(AudioHardware(audio), screens, choices);

  const DisplayPairings byName{{1, {40, PairingBasis::wholeName}}};
  EXPECT_EQ(mapper.buildPairings(), byName);
  chooseSpeakers(*choices, aster.identity, {aster.identity}, "usb-soundbar");
  EXPECT_EQ(mapper.buildPairings(), (DisplayPairings{{1, {41, PairingBasis::userChoice}}}));
  // Unplugged, the bound device gives way to the name rules; plugged back
  // under a new id, it is bound again.
  ASSERT_TRUE(audio->removeDevice(41));
  EXPECT_EQ(mapper.buildPairings(), byName);
  addDevice(43, "Soundbar", "usb-soundbar");
  EXPECT_EQ(mapper.buildPairings(), (DisplayPairings{{1, {43, PairingBasis::userChoice}}}));
  // A device that cannot be the default is never bound.
  chooseSpeakers(*choices, aster.identity, {aster.identity}, "receiver");
  EXPECT_EQ(mapper.buildPairings(), byName);
}

}  // namespace
}  // namespace velmora
