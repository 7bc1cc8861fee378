#include "ScenarioHarness.h"

using namespace velmora::testing;

namespace {

const std::string kChromeAndVlc = R"j(
  "defaultDevice": 73,
  "apps": [ {"pid": 500, "bundleID": "com.google.Chrome", "name": "Google Chrome"},
            {"pid": 600, "bundleID": "org.videolan.vlc", "name": "VLC"} ],
  "windows": [ {"id": "w", "pid": 500, "bounds": [100, 100, 800, 600]},
               {"id": "vlc", "pid": 600, "bounds": [300, 200, 800, 600]} ],
  "streams": [ {"id": 900, "pid": 500, "running": true} ],
)j";

std::string withEvents(const std::string& events, double until) {
  return scenario(kChromeAndVlc + R"j("events": [)j" + events + R"j(], "until": )j" + std::to_string(until));
}

// An override kept while the window stays on its display and cleared when it
// moves to another is pinned by examples/override.json; routing taking over
// again after that, by examples/living-room.json.
TEST(UserOverride, ClearedWhenAnotherAppIsTracked) {
  auto lines = withoutLog(runScenario(withEvents(R"j({"at": 1.1, "do": "setDefault", "device": 80},
                                                    {"at": 2.1, "do": "addStream", "stream": {"id": 901, "pid": 600, "running": true}},
                                                    {"at": 2.2, "do": "removeStream", "stream": 900})j",
                                                 6.0)));
  EXPECT_TRUE(contains(lines, "1.100 status override User override"));
  // Chrome is forgotten at 4.5; VLC's window is on display 1, so the output
  // goes back to its speakers.
  EXPECT_TRUE(contains(lines, "4.500 status tracking Switching to Aster U27 (HDMI)…"));
  EXPECT_TRUE(contains(lines, "4.800 default 73 Aster U27"));
}

TEST(UserOverride, OwnSwitchAndChangesWithinTheQuietWindowAreIgnored) {
  auto lines =
      runScenario(withEvents(R"j({"at": 1.1, "do": "moveWindow", "window": "w", "bounds": [2500, 300, 800, 600]},
                                        {"at": 1.6, "do": "setDefault", "device": 73})j",
                             3.0));
  EXPECT_TRUE(contains(lines, "1.550 default 80 Borealis 4K Speakers"));
  // The user's change 0.05 s after our switch is ignored, and the next
  // report switches back.
  EXPECT_TRUE(contains(lines, "1.600 default 73 Aster U27"));
  EXPECT_FALSE(anyContaining(lines, "user override"));
  EXPECT_TRUE(contains(lines, "1.750 status tracking Switching to Borealis 4K…"));
  EXPECT_TRUE(contains(lines, "2.050 default 80 Borealis 4K Speakers"));
}

// An unplugged default falling back without an override is pinned by
// examples/unplug.json.
TEST(UserOverride, FailedStartReadSkipsTheFallBackTestAndAnchorsWithoutApp) {
  auto lines = runScenario(scenario(R"j(
    "defaultDevice": 73,
    "events": [ {"at": 0, "do": "fail", "operation": "defaultOutputDevice"},
                {"at": 1.1, "do": "unplug", "device": 73},
                {"at": 1.2, "do": "setDefault", "device": 80} ],
    "until": 2.0)j"));
  // lastKnownDefaultDevice stayed absent, so the unplug's change is judged
  // on its own: 80 is a display speaker, hence an anchor with no app.
  EXPECT_TRUE(contains(lines, "1.100 default 80 Borealis 4K Speakers"));
  EXPECT_TRUE(contains(lines, "1.100 log Routing default user override anchored: app=-1 screen=0"));
  EXPECT_TRUE(contains(lines, "1.100 status override User override"));
}

TEST(RoutingStatus, ExternalBeatsOverrideAndOverrideBeatsTracking) {
  auto lines = statusAndDefaults(runScenario(withEvents(R"j({"at": 1.1, "do": "setDefault", "device": 80},
                                                    {"at": 2.1, "do": "setDefault", "device": 90},
                                                    {"at": 3.1, "do": "setDefault", "device": 73},
                                                    {"at": 4.1, "do": "fail", "operation": "defaultOutputDevice", "count": -1})j",
                                                        5.0)));
  const std::vector<std::string> expected = {
      "0.000 status tracking Tracking Google Chrome",
      "1.100 default 80 Borealis 4K Speakers",
      "1.100 status override User override",
      "2.100 default 90 USB Headphones",
      "2.100 status external External output (USB Headphones)",
      "3.100 default 73 Aster U27",
      "3.100 status override User override",
      // An unreadable default counts as device 0: not a display speaker.
      "4.500 status external External output (?)",
  };
  EXPECT_EQ(lines, expected);
}

}  // namespace
