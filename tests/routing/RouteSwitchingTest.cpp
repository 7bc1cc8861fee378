#include "ScenarioHarness.h"

using namespace velmora::testing;

namespace {

const std::string kChromeOnDisplay1 = R"j("defaultDevice": 73,)j" + kChromePlaying;

std::string chrome(const std::string& events, double until) {
  return scenario(kChromeOnDisplay1 + R"j("events": [)j" + events + R"j(], "until": )j" + std::to_string(until));
}

TEST(RouteSwitching, SwitchRunsThreeTenthsAfterTheFirstReportThatAskedForIt) {
  auto lines = runScenario(chrome(R"j({"at": 2.1, "do": "moveWindow", "window": "w", "bounds": [2500, 300, 800, 600]},
                                     {"at": 2.3, "do": "moveWindow", "window": "w", "bounds": [2600, 300, 800, 600]})j",
                                  4.0));
  // Reports at 2.25 and 2.5 want the same target: the deadline stays 2.55.
  EXPECT_TRUE(contains(lines, "2.250 status tracking Switching to Borealis 4K…"));
  EXPECT_TRUE(contains(lines, "2.550 default 80 Borealis 4K Speakers"));
  EXPECT_TRUE(
      contains(lines, "2.550 log Routing default switch target=80 (Borealis 4K Speakers) ok=true before=73 after=80"));
  EXPECT_TRUE(contains(lines, "2.550 status tracking → Borealis 4K Speakers"));
  // Our own change is not mistaken for the user's.
  EXPECT_FALSE(anyContaining(lines, "user override"));
  EXPECT_TRUE(contains(lines, "3.000 status tracking Tracking Google Chrome"));
}

TEST(RouteSwitching, MovingBackBeforeTheDeadlineCancelsTheSwitch) {
  auto lines = runScenario(chrome(R"j({"at": 2.1, "do": "moveWindow", "window": "w", "bounds": [2500, 300, 800, 600]},
                                     {"at": 2.3, "do": "moveWindow", "window": "w", "bounds": [100, 100, 800, 600]})j",
                                  4.0));
  EXPECT_TRUE(contains(lines, "2.250 status tracking Switching to Borealis 4K…"));
  EXPECT_FALSE(anyContaining(lines, " default 80"));
  EXPECT_FALSE(anyContaining(lines, "switch target"));
}

TEST(RouteSwitching, StraddlingWindowsAndMissingWindowsNeverSwitch) {
  auto lines = runScenario(chrome(
      R"j({"at": 1.1, "do": "moveWindow", "window": "w", "bounds": [1520, 100, 800, 600]},
         {"at": 2.1, "do": "closeWindow", "window": "w"},
         {"at": 3.1, "do": "openWindow", "window": {"id": "thin", "pid": 500, "bounds": [2500, 100, 50, 600]}})j",
      4.0));
  EXPECT_TRUE(contains(lines, "1.250 log Routing debug no display crosses 50% threshold"));
  EXPECT_TRUE(contains(lines, "2.250 log Routing debug window rect=nil"));
  EXPECT_TRUE(contains(lines, "3.250 log Routing debug window rect=nil"));
  EXPECT_FALSE(anyContaining(lines, "Switching"));
}

TEST(RouteSwitching, FailedSetOrReadBackGivesSwitchFailedAndTheNextReportRetries) {
  auto failedSet =
      runScenario(chrome(R"j({"at": 2.1, "do": "moveWindow", "window": "w", "bounds": [2500, 300, 800, 600]},
                                        {"at": 2.2, "do": "fail", "operation": "setDefaultOutputDevice"})j",
                         4.0));
  EXPECT_TRUE(contains(
      failedSet, "2.550 log Routing default switch target=80 (Borealis 4K Speakers) ok=false before=73 after=73"));
  EXPECT_TRUE(contains(failedSet, "2.550 status tracking Switch failed"));
  // The report at 2.75 still finds the target differing and tries again.
  EXPECT_TRUE(contains(failedSet, "2.750 status tracking Switching to Borealis 4K…"));
  EXPECT_TRUE(contains(failedSet, "3.050 default 80 Borealis 4K Speakers"));

  // The set succeeds but both reads around it fail: ok, yet not a success.
  auto badReadBack =
      runScenario(chrome(R"j({"at": 2.1, "do": "moveWindow", "window": "w", "bounds": [2500, 300, 800, 600]},
                                          {"at": 2.55, "do": "fail", "operation": "defaultOutputDevice", "count": 2})j",
                         3.0));
  EXPECT_TRUE(contains(badReadBack,
                       "2.550 log Routing default switch target=80 (Borealis 4K Speakers) ok=true before=0 after=0"));
  EXPECT_TRUE(contains(badReadBack, "2.550 status tracking Switch failed"));
}

TEST(RouteSwitching, SwitchingNamesTheDisplayAndTheOutcomeNamesTheDevice) {
  auto lines = withoutLog(runScenario(chrome(
      R"j({"at": 1.1, "do": "renameDevice", "device": 80, "name": null},
         {"at": 1.2, "do": "moveWindow", "window": "w", "bounds": [2500, 300, 800, 600]})j",
      2.0)));
  EXPECT_TRUE(contains(lines, "1.250 status tracking Switching to Borealis 4K…"));
  // A device whose name cannot be read is shown by its id.
  EXPECT_TRUE(contains(lines, "1.550 status tracking → device 80"));
}

TEST(RouteSwitching, EmptyDisplayMapMeansNoDisplaySpeakers) {
  auto lines = statusAndDefaults(runScenario(R"j({
    "displays": [ {"id": 1, "name": "TV", "frame": [0, 0, 1920, 1080]} ],
    "devices": [ {"id": 73, "name": "AB TV Speakers"} ],
    "defaultDevice": 73,
    "apps": [ {"pid": 500, "bundleID": "com.google.Chrome", "name": "Google Chrome"} ],
    "windows": [ {"id": "w", "pid": 500, "bounds": [100, 100, 800, 600]} ],
    "streams": [ {"id": 900, "pid": 500, "running": true} ],
    "events": [ {"at": 1.1, "do": "setDefault", "device": 73} ],
    "until": 2.0 })j"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines.front(), "0.000 status idle No display speakers detected");
}

}  // namespace

TEST(RouteSwitching, HeadphonesPickedJustBeforeAScheduledSwitchAreKept) {
  // Switched at 2.55; moved back at 2.6, so a switch to 73 is due at 3.05.
  // Headphones picked at 3.02 fall inside the quiet window of the first
  // switch, and no window report comes between them and the deadline.
  auto lines = runScenario(chrome(R"j({"at": 2.1, "do": "moveWindow", "window": "w", "bounds": [2500, 300, 800, 600]},
                                     {"at": 2.6, "do": "moveWindow", "window": "w", "bounds": [100, 100, 800, 600]},
                                     {"at": 3.02, "do": "setDefault", "device": 90})j",
                                  5.0));
  ASSERT_TRUE(contains(lines, "2.550 default 80 Borealis 4K Speakers"));
  ASSERT_TRUE(contains(lines, "3.020 default 90 USB Headphones"));
  EXPECT_FALSE(anyContaining(lines, "default 73")) << "the headphones were taken away";
  EXPECT_TRUE(
      contains(lines, "3.050 log Routing default switch target=73 dropped: the default left the display speakers"));
}
