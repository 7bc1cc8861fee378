#include <gtest/gtest.h>

#include "display/DisplayAudioMapper.h"
#include "platform/sim/SimAudio.h"
#include "platform/sim/SimScreens.h"

namespace velmora {
namespace {

using sim::SimAudio;

std::string sink(int port, const std::string& monitor) {
  return "HDA Intel PCH HDMI / DisplayPort " + std::to_string(port) + " Output (" + monitor + ")";
}

constexpr auto kEld = PairingBasis::eldName;
constexpr auto kWhole = PairingBasis::wholeName;
constexpr auto kWords = PairingBasis::sharedWords;

struct Case {
  const char* what;
  std::string display;
  // Device names in candidate order; nullopt is a name that cannot be read.
  std::vector<std::optional<std::string>> devices;
  std::optional<std::size_t> expected;  // index into devices
  PairingBasis basis = kWhole;
  // The monitor names of the devices' ELDs, by index; none where absent.
  std::vector<std::optional<std::string>> elds = {};
};

TEST(SpeakerPairing, WholeNameFirstThenSharedWords) {
  const std::string analog = "Built-in Audio Analog Stereo";
  const Case cases[] = {
      // Names without a word of four characters pair with the device naming them.
      {"short name", "LG HDR 4K", {analog, sink(1, "LG HDR 4K")}, 1},
      {"short name", "HP Z27", {analog, sink(1, "HP Z27")}, 1},
      {"short name", "LG TV", {analog, sink(3, "LG TV")}, 1},
      // Same maker, other model: each display takes the device naming it,
      // even where the maker word or HDMI would tie the two.
      {"same maker", "HP Z24", {sink(1, "HP Z27"), sink(2, "HP Z24")}, 1},
      {"same maker", "Sceptre E24", {sink(1, "Sceptre F27"), sink(2, "Sceptre E24")}, 1},
      {"same maker", "ASUS HDMI", {sink(1, "ASUS VG27A"), sink(2, "ASUS HDMI")}, 1},
      {"same maker", "DELL P2419H", {sink(1, "DELL U2720Q"), sink(2, "DELL P2419H")}, 1},
      // Identical names still tie; the first device keeps it.
      {"identical", "DELL U2720Q", {sink(2, "DELL U2720Q"), sink(1, "DELL U2720Q")}, 0},
      {"identical", "LG TV", {analog, sink(2, "LG TV"), sink(1, "LG TV")}, 1},
      // Only whole words: "LG TV" is not in "LG TVX", "U27" not in "U2720Q".
      {"whole words", "LG TV", {"LG TVX Speakers"}, std::nullopt},
      {"whole words", "LG TV", {"LG TVX", "Living Room LG TV"}, 1},
      {"whole words", "Aster U27", {"Aster U2720Q", "Aster Audio"}, 0, kWords},
      {"whole words", "HP Z27", {"HP-Z27 Speakers"}, std::nullopt},
      // Case and runs of white space do not matter.
      {"case, spaces", "dell  u2720q", {sink(1, "DELL P2419H"), sink(2, "DELL U2720Q")}, 1},
      {"case, spaces", "LG\tHDR 4K", {"lg  hdr\u00a04k"}, 0},
      // Composed and decomposed accents are the same; missing accents are not.
      {"accents", "\u00c9cran Caf\u00e9", {"Ecran Cafe", "E\u0301CRAN CAFE\u0301 HDMI"}, 1},
      {"accents", "Ecran Cafe", {"\u00c9cran Caf\u00e9"}, std::nullopt},
      // A lone short word is too common to name anything; the word rule cannot
      // pair it either. Its length is counted in user-perceived characters.
      {"one short word", "LG", {"LG Speakers", "LG"}, std::nullopt},
      {"one short word", "(TV)", {"TV"}, std::nullopt},
      {"one short word", "Te\u0301l", {"Te\u0301l Audio"}, std::nullopt},
      {"one long word", "Kestrel", {"Studio Audio", "KESTREL"}, 1},
      // Without a device naming the display, the word rule decides as before,
      // first device winning its ties.
      {"word rule", "Aster U27 (HDMI)", {"Aster U27", "HDMI Audio"}, 0, kWords},
      {"word rule", "Aster U27 (HDMI)", {"HDMI Audio", "Aster U27"}, 0, kWords},
      // A repeated display word counts each time, a repeated device word once.
      {"word rule", "Studio Monitor Studio", {"Monitor Monitor Monitor", "Studio Speakers"}, 1, kWords},
      // The device naming the display wins over one sharing more words; among
      // several naming it, the first.
      {"naming wins", "Aster U27", {"Aster Studio U2720Q Aster", "Speakers (Aster U27)"}, 1},
      {"naming wins", "HP Z27", {"HP Z27 Left", "HP Z27 Right"}, 0},
      // Unreadable names are skipped; nothing to find in an empty name.
      {"unreadable", "HP Z27", {std::nullopt, sink(1, "HP Z27")}, 1},
      {"empty name", " -- ", {"--", " "}, std::nullopt},
      {"no devices", "HP Z27", {}, std::nullopt},
      // The monitor's own name in an ELD pairs first, at any length, exactly
      // (case and outer blanks aside); two devices with it leave the choice
      // to the name rules.
      {"eld", "JVC", {analog, "HDA NVidia Digital Stereo (HDMI 2)"}, 1, kEld, {std::nullopt, "JVC"}},
      {"eld", " jvc", {"HDA NVidia Digital Stereo (HDMI 2)"}, 0, kEld, {"JVC  "}},
      {"eld", "HP Z27", {sink(1, "HP Z27"), "HDMI 2"}, 1, kEld, {std::nullopt, "HP Z27"}},
      {"eld", "JVC", {"HDMI 1"}, std::nullopt, kEld, {"JVC TV"}},
      {"eld tie", "DELL U2720Q", {"HDMI 1", sink(2, "DELL U2720Q")}, 1, kWhole, {"DELL U2720Q", "DELL U2720Q"}},
  };

  for (const Case& c : cases) {
    auto audio = std::make_shared<SimAudio>();
    std::vector<AudioDeviceID> candidates;
    for (std::size_t i = 0; i < c.devices.size(); ++i) {
      const auto id = static_cast<AudioDeviceID>(100 + i);
      ASSERT_TRUE(audio->addDevice(
          {.id = id, .name = c.devices[i], .monitorName = i < c.elds.size() ? c.elds[i] : std::nullopt}));
      candidates.push_back(id);
    }
    const DisplayAudioMapper mapper(AudioHardware(audio), nullptr);
    const std::optional<SpeakerPairing> pairing = mapper.pairSpeakers(c.display, candidates);
    SCOPED_TRACE(std::string(c.what) + ": \"" + c.display + "\"");
    if (!c.expected) {
      EXPECT_EQ(pairing, std::nullopt);
      EXPECT_EQ(mapper.bestDevice(c.display, candidates), std::nullopt);
      continue;
    }
    const SpeakerPairing expected{static_cast<AudioDeviceID>(100 + *c.expected), c.basis};
    EXPECT_EQ(pairing, expected);
    EXPECT_EQ(mapper.bestDevice(c.display, candidates), expected.device);
  }
}

TEST(SpeakerPairing, PairingsRecordWhatPairedEachDisplay) {
  auto audio = std::make_shared<SimAudio>();
  ASSERT_TRUE(audio->addDevice({40, sink(1, "SAMSUNG")}));
  ASSERT_TRUE(audio->addDevice({41, sink(2, "HP Z27")}));
  ASSERT_TRUE(audio->addDevice({42, std::string("Aster Speakers")}));
  auto screens = std::make_shared<sim::SimScreens>(std::vector<PlatformScreen>{
      {PlatformValue{std::int64_t{1}}, Rect{0, 0, 1920, 1080}, "HP Z27"},
      {PlatformValue{std::int64_t{2}}, Rect{1920, 0, 1920, 1080}, "Aster U27"},
      {PlatformValue{std::int64_t{3}}, Rect{3840, 0, 1920, 1080}, "LG"},
  });
  const DisplayAudioMapper mapper(AudioHardware(audio), screens);
  const DisplayPairings expected{{1, {41, kWhole}}, {2, {42, kWords}}};
  EXPECT_EQ(mapper.buildPairings(), expected);
  EXPECT_EQ(mapper.buildDisplayMap(), (DisplayMap{{1, 41}, {2, 42}}));
}

}  // namespace
}  // namespace velmora
