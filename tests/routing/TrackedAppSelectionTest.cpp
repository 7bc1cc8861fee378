#include "ScenarioHarness.h"

using namespace velmora::testing;

namespace {

// Firefox plays from the start on display 1; VLC starts later with a larger
// window on display 2.
const std::string kFirefoxThenVlc = R"j(
  "defaultDevice": 73,
  "apps": [ {"pid": 500, "bundleID": "org.mozilla.firefox", "name": "Firefox"},
            {"pid": 600, "bundleID": "org.videolan.vlc", "name": "VLC"} ],
  "windows": [ {"id": "ff", "pid": 500, "bounds": [200, 100, 800, 600]},
               {"id": "vlc", "pid": 600, "bounds": [2400, 200, 2400, 1400]} ],
  "streams": [ {"id": 900, "pid": 500, "running": true} ],
)j";

// A later app with a bigger window not taking over, and a short pause not
// handing it the lead, are pinned by examples/second-app.json.
TEST(TrackedAppSelection, SilentAppIsForgottenAfterGracePeriodAndRestartsBehindOthers) {
  auto lines = withoutLog(runScenario(scenario(kFirefoxThenVlc + R"j(
    "events": [
      {"at": 1.0, "do": "addStream", "stream": {"id": 901, "pid": 600, "running": true}},
      {"at": 3.1, "do": "setRunning", "stream": 900, "running": false},
      {"at": 7.1, "do": "setRunning", "stream": 900, "running": true}
    ],
    "until": 10.0)j")));
  // Last seen at 3.0: the poll at 5.0 is exactly 2 s later and keeps it, the
  // one at 5.5 forgets it.
  EXPECT_FALSE(anyContaining(lines, "5.000 status tracking Tracking VLC"));
  auto back = indexOf(lines, "5.500 status tracking Tracking VLC");
  ASSERT_NE(back, -1);
  EXPECT_TRUE(contains(lines, "5.800 default 80 Borealis 4K Speakers"));
  // Firefox comes back at 7.1 as a newcomer and stays behind VLC.
  for (std::size_t i = back; i < lines.size(); ++i)
    EXPECT_EQ(lines[i].find("Firefox"), std::string::npos) << lines[i];
}

TEST(TrackedAppSelection, DroppingTheLastAppStopsTrackingAndCancelsThePendingSwitch) {
  auto lines = withoutLog(runScenario(scenario(R"j(
    "defaultDevice": 73,
    "apps": [ {"pid": 500, "bundleID": "com.google.Chrome", "name": "Google Chrome"} ],
    "windows": [ {"id": "w", "pid": 500, "bounds": [100, 100, 800, 600]} ],
    "streams": [ {"id": 900, "pid": 500, "running": true} ],
    "events": [
      {"at": 1.1, "do": "removeStream", "stream": 900},
      {"at": 3.2, "do": "moveWindow", "window": "w", "bounds": [2500, 300, 800, 600]}
    ],
    "until": 5.0)j")));
  // Last seen at 1.0, forgotten by the poll at 3.5, before which the window
  // move schedules a switch at 3.25 that must never run.
  EXPECT_TRUE(contains(lines, "3.250 status tracking Switching to Borealis 4K…"));
  EXPECT_TRUE(contains(lines, "3.500 status idle No media playing"));
  EXPECT_FALSE(anyContaining(lines, " default "));
}

TEST(TrackedAppSelection, EqualStartTimesGoToTheLargerWindowAndProcessesOfOneAppCountOnce) {
  auto lines = withoutLog(runScenario(scenario(R"j(
    "defaultDevice": 73,
    "apps": [ {"pid": 500, "bundleID": "org.mozilla.firefox", "name": "Firefox"},
              {"pid": 600, "bundleID": "org.videolan.vlc", "name": "VLC"} ],
    "processes": [ {"pid": 501, "parent": 500}, {"pid": 502, "parent": 500} ],
    "windows": [ {"id": "ff", "pid": 500, "bounds": [100, 100, 400, 300]},
                 {"id": "tiny", "pid": 600, "bounds": [2000, 100, 50, 900]},
                 {"id": "vlc", "pid": 600, "bounds": [2400, 200, 1600, 900]} ],
    "streams": [ {"id": 900, "pid": 501, "running": true},
                 {"id": 901, "pid": 502, "running": true},
                 {"id": 902, "pid": 600, "running": true} ],
    "until": 2.0)j")));
  EXPECT_EQ(lines.front(), "0.000 status tracking Switching to Borealis 4K…");
  EXPECT_EQ(lines.at(1), "0.000 status tracking Tracking VLC");
}

TEST(TrackedAppSelection, OwnersAreFoundUpTheProcessTreeAndThroughTheOwnerTable) {
  struct Case {
    const char* name;
    const char* body;
    const char* expected;  // the first status line
  };
  const Case cases[] = {
      {"helper process of a supported browser",
       R"j("apps": [ {"pid": 500, "bundleID": "com.google.Chrome", "name": "Google Chrome"} ],
          "processes": [ {"pid": 510, "parent": 500}, {"pid": 511, "parent": 510} ],
          "streams": [ {"id": 900, "pid": 511, "running": true} ],)j",
       "0.000 status tracking Tracking Google Chrome"},
      {"registered unsupported app stops the walk",
       R"j("apps": [ {"pid": 500, "bundleID": "com.google.Chrome", "name": "Google Chrome"},
                    {"pid": 510, "bundleID": "com.example.helper"} ],
          "processes": [ {"pid": 511, "parent": 510} ],
          "streams": [ {"id": 900, "pid": 511, "running": true} ],)j",
       "0.000 status idle No media playing"},
      {"web content process owned by the first running Safari",
       R"j("apps": [ {"pid": 400, "bundleID": "com.apple.SafariTechnologyPreview", "name": "Safari Technology Preview"},
                    {"pid": 500, "bundleID": "com.apple.Safari", "name": "Safari"} ],
          "streams": [ {"id": 900, "pid": 4242, "bundleID": "com.apple.WebKit.GPU", "running": true} ],)j",
       "0.000 status tracking Tracking Safari Technology Preview"},
      {"web content process without a running Safari",
       R"j("apps": [ {"pid": 500, "bundleID": "com.google.Chrome", "name": "Google Chrome"} ],
          "streams": [ {"id": 900, "pid": 4242, "bundleID": "com.apple.WebKit.GPU", "running": true} ],)j",
       "0.000 status idle No media playing"},
      {"app without a name",
       R"j("apps": [ {"pid": 500, "bundleID": "org.videolan.vlc"} ],
          "streams": [ {"id": 900, "pid": 500, "running": true} ],)j",
       "0.000 status tracking Tracking app"},
      {"ancestor chain reaching init",
       R"j("apps": [ {"pid": 500, "bundleID": "com.google.Chrome", "name": "Google Chrome"} ],
          "processes": [ {"pid": 510, "parent": 1} ],
          "streams": [ {"id": 900, "pid": 510, "running": true} ],)j",
       "0.000 status idle No media playing"},
      {"failed parent lookups",
       R"j("apps": [ {"pid": 500, "bundleID": "com.google.Chrome", "name": "Google Chrome"} ],
          "processes": [ {"pid": 510, "parent": 500} ],
          "streams": [ {"id": 900, "pid": 510, "running": true} ],
          "events": [ {"at": 0, "do": "fail", "operation": "parentPid", "count": -1} ],)j",
       "0.000 status idle No media playing"},
  };
  for (const auto& c : cases) {
    auto lines =
        withoutLog(runScenario(scenario(std::string(R"j("defaultDevice": 73,)j") + c.body + R"j("until": 1.0)j")));
    ASSERT_FALSE(lines.empty()) << c.name;
    EXPECT_EQ(lines.front(), c.expected) << c.name;
  }
}

TEST(TrackedAppSelection, AncestorWalkStopsAfterTenLookups) {
  // pid 600 is the app; 601 .. 609 form a chain below it.
  auto chain = [](int depth) {
    std::string processes;
    int parent = 600;
    for (int i = 1; i <= depth; ++i) {
      if (!processes.empty()) processes += ",";
      processes += R"j({"pid": )j" + std::to_string(600 + i) + R"j(, "parent": )j" + std::to_string(parent) + "}";
      parent = 600 + i;
    }
    return scenario(R"j("defaultDevice": 73,
      "apps": [ {"pid": 600, "bundleID": "org.videolan.vlc", "name": "VLC"} ],
      "processes": [ )j" +
                    processes + R"j( ],
      "streams": [ {"id": 900, "pid": )j" +
                    std::to_string(parent) + R"j(, "running": true} ],
      "until": 1.0)j");
  };
  // Nine ancestors above the process: the tenth lookup finds the app.
  EXPECT_EQ(withoutLog(runScenario(chain(9))).front(), "0.000 status tracking Tracking VLC");
  EXPECT_EQ(withoutLog(runScenario(chain(10))).front(), "0.000 status idle No media playing");
}

}  // namespace
