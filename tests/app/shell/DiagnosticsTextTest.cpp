#include "app/shell/DiagnosticsText.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/sim/SimAudio.h"
#include "platform/sim/SimScreens.h"

namespace velmora::app {
namespace {

PlatformScreen screen(std::optional<PlatformValue> number, std::string name, double x = 0) {
  return {std::move(number), Rect{x, 0, 1920, 1080}, std::move(name)};
}

TEST(DiagnosticsText, FailedReadsBecomeFixedTextsAndLinesSortByCodePoint) {
  EXPECT_EQ(deviceLine({12, std::nullopt, true, true, fourCharCode("usb ")}),
            "\u2022 id=12 \"?\" alive=true canDef=true transport=usb ");
  EXPECT_EQ(deviceLine({12, "", false, false, fourCharCode("bltn")}),
            "\u2022 id=12 \"\" alive=false canDef=false transport=bltn");

  // The screen is matched by its number only; a missing or ill-typed number
  // falls back to the display id.
  const std::vector<PlatformScreen> screens = {screen(std::nullopt, "Left"), screen(std::string("9"), "Middle"),
                                               screen(9.5, "Right")};
  EXPECT_EQ(mappingLine({9, 40, std::nullopt, std::nullopt}, screens), "\u2022 Display 9 \u2192 Unknown [id=40]");
  EXPECT_EQ(mappingLine({9, 40, "", std::nullopt}, {screen(std::int64_t{9}, "Dell U2720Q")}),
            "\u2022 Dell U2720Q \u2192  [id=40]");

  // Code-point order, not the user's collation: 'Z' < 'a' < 'É'.
  EXPECT_EQ(mappingLines({{1, 10, "A", std::nullopt}, {3, 30, "C", std::nullopt}, {2, 20, "B", std::nullopt}},
                         {screen(std::int64_t{1}, "\u00c9cran"), screen(std::int64_t{2}, "Zeta"),
                          screen(std::int64_t{3}, "alpha")}),
            (std::vector<std::string>{"\u2022 Zeta \u2192 B [id=20]", "\u2022 alpha \u2192 C [id=30]",
                                      "\u2022 \u00c9cran \u2192 A [id=10]"}));
}

// Pins the whole layout: mapping lines, a blank line, then every device in
// the platform's order; no followed application, no section for it.
TEST(DiagnosticsText, ReadsAFreshSnapshotFromThePlatform) {
  auto audio = std::make_shared<sim::SimAudio>();
  ASSERT_TRUE(audio->addDevice({80, std::nullopt, true, true, false, fourCharCode("usb ")}));
  ASSERT_TRUE(audio->addDevice({73, "Studio TV", true, true, true, fourCharCode("hdmi")}));
  ASSERT_TRUE(audio->setInitialDefault(73));
  sim::SimScreens screens({screen(std::int64_t{5}, "Studio TV")});

  const DiagnosticsSnapshot snapshot = readDiagnostics(AudioHardware(audio), screens);
  EXPECT_EQ(diagnosticsText(snapshot),
            "\u2022 Studio TV \u2192 Studio TV [id=73] by whole name\n"
            "\n"
            "ALL OUTPUT DEVICES (current default = 73):\n"
            "\u2022 id=80 \"?\" alive=false canDef=true transport=usb \n"
            "\u2022 id=73 \"Studio TV\" alive=true canDef=true transport=hdmi");

  // Then where each stream of the followed application plays, and the session.
  ASSERT_TRUE(audio->addStream({.id = 900, .pid = 5}));
  ASSERT_TRUE(audio->addStream({.id = 901, .pid = 5, .pin = 80, .movable = false}));
  auto followed = readDiagnostics(AudioHardware(audio), screens, FollowedApplication{5, "mpv", {{900}, {901, true}}});
  followed.session = "Session: sway";
  const std::string text = diagnosticsText(followed);
  EXPECT_TRUE(
      text.ends_with("transport=hdmi\n\nFOLLOWED APPLICATION (mpv, pid 5):\n"
                     "\u2022 stream 900 \u2192 Studio TV [id=73]\n"
                     "\u2022 stream 901 \u2192 ? [id=80] (the sound server refuses to move it)\n"
                     "\nSession: sway"))
      << text;

  audio->fail(sim::SimAudio::Operation::defaultOutputDevice, -1);
  audio->fail(sim::SimAudio::Operation::outputDevices, -1);
  EXPECT_EQ(diagnosticsText(readDiagnostics(AudioHardware(audio), screens)),
            "(no display\u2192audio mappings found)\n\nALL OUTPUT DEVICES (current default = 0):");
}

TEST(DiagnosticsText, SaysWhatPairedEachDisplay) {
  auto audio = std::make_shared<sim::SimAudio>();
  ASSERT_TRUE(audio->addDevice({40, "HDA Intel PCH HDMI / DisplayPort 1 Output (HP Z27)"}));
  ASSERT_TRUE(audio->addDevice({41, "HDA Intel PCH HDMI / DisplayPort 2 Output (HP Z24)"}));
  ASSERT_TRUE(audio->addDevice({42, "Aster Speakers"}));
  sim::SimAudio::Device lg{43, "HDMI 3"};
  lg.monitorName = "LG";
  ASSERT_TRUE(audio->addDevice(lg));
  sim::SimAudio::Device soundbar{44, "Soundbar"};
  soundbar.uid = "usb-soundbar";
  ASSERT_TRUE(audio->addDevice(soundbar));
  PlatformScreen studio = screen(std::int64_t{4}, "Studio", 5760);
  studio.identity.connector = "DP-3";
  sim::SimScreens screens({screen(std::int64_t{1}, "HP Z24"), screen(std::int64_t{2}, "Aster U27", 1920),
                           screen(std::int64_t{3}, "LG", 3840), studio});
  auto choices = std::make_shared<SpeakerChoices>(std::vector<SpeakerBinding>{{studio.identity, "usb-soundbar"}});
  const DiagnosticsSnapshot snapshot = readDiagnostics(AudioHardware(audio), screens, std::nullopt, choices);
  EXPECT_EQ(
      mappingLines(snapshot.mappings, snapshot.screens),
      (std::vector<std::string>{
          "\u2022 Aster U27 \u2192 Aster Speakers [id=42] by shared words",
          "\u2022 HP Z24 \u2192 HDA Intel PCH HDMI / DisplayPort 2 Output (HP Z24) [id=41] by whole name",
          "\u2022 LG \u2192 HDMI 3 [id=43] by ELD name", "\u2022 Studio \u2192 Soundbar [id=44] by your choice"}));
}

TEST(AboutText, VersionContactAndCopyright) {
  const std::string text = aboutText("1.4", "support@quennet.co", "Copyright \u00a9 2026 Quennet.");
  EXPECT_TRUE(text.starts_with("Version 1.4\n") &&
              text.ends_with("support@quennet.co\n\nCopyright \u00a9 2026 Quennet."))
      << text;
  EXPECT_TRUE(aboutText("", "a@b", "").starts_with("Version ?\n")) << "an unknown version is not left blank";
}

}  // namespace
}  // namespace velmora::app
