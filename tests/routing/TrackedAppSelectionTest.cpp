#include "ScenarioHarness.h"

using namespace velmora::testing;

namespace {

std::string withDefault73(const std::string& body, double until = 1.0) {
  return scenario(R"j("defaultDevice": 73,)j" + body + R"j("until": )j" + std::to_string(until));
}

// VLC (pid 600) and a chain of `depth` processes below it, the last playing.
std::string vlcChain(int depth) {
  std::string processes;
  for (int i = 1; i <= depth; ++i)
    processes += (i > 1 ? "," : "") + std::string(R"j({"pid": )j") + std::to_string(600 + i) + R"j(, "parent": )j" +
                 std::to_string(599 + i) + "}";
  return withDefault73(R"j("apps": [ {"pid": 600, "bundleID": "org.videolan.vlc", "name": "VLC"} ],
                          "processes": [ )j" +
                       processes + R"j( ], "streams": [ {"id": 900, "pid": )j" + std::to_string(600 + depth) +
                       R"j(, "running": true} ],)j");
}

const std::string kIdle = "0.000 status idle No media playing";

// A later app with a bigger window not taking over, and a short pause not
// handing it the lead, are pinned by examples/second-app.json.
TEST(TrackedAppSelection, WhichAppIsTracked) {
  const TranscriptCase cases[] = {
      // Last seen at 1.0, forgotten by the poll at 3.5, before which the
      // window move schedules a switch at 3.25 that must never run.
      {"dropping the last app stops tracking and cancels the pending switch",
       withDefault73(kChromePlaying + R"j(
         "events": [ {"at": 1.1, "do": "removeStream", "stream": 900},
                     {"at": 3.2, "do": "moveWindow", "window": "w", "bounds": [2500, 300, 800, 600]} ],)j",
                     5.0),
       {"3.250 status tracking Switching to Borealis 4K…", "3.500 status idle No media playing"},
       {" default 80"}},
      {"equal start times go to the larger window, and processes of one app count once",
       withDefault73(R"j(
         "apps": [ {"pid": 500, "bundleID": "org.mozilla.firefox", "name": "Firefox"},
                   {"pid": 600, "bundleID": "org.videolan.vlc", "name": "VLC"} ],
         "processes": [ {"pid": 501, "parent": 500}, {"pid": 502, "parent": 500} ],
         "windows": [ {"id": "ff", "pid": 500, "bounds": [100, 100, 400, 300]},
                      {"id": "tiny", "pid": 600, "bounds": [2000, 100, 50, 900]},
                      {"id": "vlc", "pid": 600, "bounds": [2400, 200, 1600, 900]} ],
         "streams": [ {"id": 900, "pid": 501, "running": true},
                      {"id": 901, "pid": 502, "running": true},
                      {"id": 902, "pid": 600, "running": true} ],)j",
                     2.0),
       {"0.000 status tracking Switching to Borealis 4K…", "0.000 status tracking Tracking VLC"},
       {"Tracking Firefox"}},
      {"helper process of a supported browser",
       withDefault73(kChromeApp + R"j(
          "processes": [ {"pid": 510, "parent": 500}, {"pid": 511, "parent": 510} ],
          "streams": [ {"id": 900, "pid": 511, "running": true} ],)j"),
       {"0.000 status tracking Tracking Google Chrome"}},
      {"registered unsupported app stops the walk",
       withDefault73(R"j("apps": [ {"pid": 500, "bundleID": "com.google.Chrome", "name": "Google Chrome"},
                    {"pid": 510, "bundleID": "com.example.helper"} ],
          "processes": [ {"pid": 511, "parent": 510} ],
          "streams": [ {"id": 900, "pid": 511, "running": true} ],)j"),
       {kIdle}},
      {"web content process owned by the first running Safari",
       withDefault73(
           R"j("apps": [ {"pid": 400, "bundleID": "com.apple.SafariTechnologyPreview", "name": "Safari Technology Preview"},
                    {"pid": 500, "bundleID": "com.apple.Safari", "name": "Safari"} ],
          "streams": [ {"id": 900, "pid": 4242, "bundleID": "com.apple.WebKit.GPU", "running": true} ],)j"),
       {"0.000 status tracking Tracking Safari Technology Preview"}},
      {"web content process without a running Safari",
       withDefault73(kChromeApp + R"j(
          "streams": [ {"id": 900, "pid": 4242, "bundleID": "com.apple.WebKit.GPU", "running": true} ],)j"),
       {kIdle}},
      {"app without a name",
       withDefault73(R"j("apps": [ {"pid": 500, "bundleID": "org.videolan.vlc"} ],
          "streams": [ {"id": 900, "pid": 500, "running": true} ],)j"),
       {"0.000 status tracking Tracking app"}},
      {"ancestor chain reaching init",
       withDefault73(kChromeApp + R"j(
          "processes": [ {"pid": 510, "parent": 1} ],
          "streams": [ {"id": 900, "pid": 510, "running": true} ],)j"),
       {kIdle}},
      {"failed parent lookups",
       withDefault73(kChromeApp + R"j(
          "processes": [ {"pid": 510, "parent": 500} ],
          "streams": [ {"id": 900, "pid": 510, "running": true} ],
          "events": [ {"at": 0, "do": "fail", "operation": "parentPid", "count": -1} ],)j"),
       {kIdle}},
      // The walk stops after ten lookups: nine ancestors above the process
      // are found, ten are not.
      {"nine ancestors", vlcChain(9), {"0.000 status tracking Tracking VLC"}},
      {"ten ancestors", vlcChain(10), {kIdle}},
  };
  for (const auto& c : cases)
    expectTranscript(c);
}

TEST(TrackedAppSelection, SilentAppIsForgottenAfterGracePeriodAndRestartsBehindOthers) {
  // Firefox plays from the start on display 1; VLC starts later with a
  // larger window on display 2.
  auto lines = withoutLog(runScenario(withDefault73(R"j(
    "apps": [ {"pid": 500, "bundleID": "org.mozilla.firefox", "name": "Firefox"},
              {"pid": 600, "bundleID": "org.videolan.vlc", "name": "VLC"} ],
    "windows": [ {"id": "ff", "pid": 500, "bounds": [200, 100, 800, 600]},
                 {"id": "vlc", "pid": 600, "bounds": [2400, 200, 2400, 1400]} ],
    "streams": [ {"id": 900, "pid": 500, "running": true} ],
    "events": [
      {"at": 1.0, "do": "addStream", "stream": {"id": 901, "pid": 600, "running": true}},
      {"at": 3.1, "do": "setRunning", "stream": 900, "running": false},
      {"at": 7.1, "do": "setRunning", "stream": 900, "running": true}
    ],)j",
                                                    10.0)));
  // Last seen at 3.0: the poll at 5.0 is exactly 2 s later and keeps it, the
  // one at 5.5 forgets it.
  EXPECT_FALSE(anyContaining(lines, "5.000 status tracking Tracking VLC"));
  const auto back = std::find(lines.begin(), lines.end(), "5.500 status tracking Tracking VLC");
  ASSERT_NE(back, lines.end());
  EXPECT_TRUE(contains(lines, "5.800 default 80 Borealis 4K Speakers"));
  // Firefox comes back at 7.1 as a newcomer and stays behind VLC.
  EXPECT_FALSE(anyContaining({back, lines.end()}, "Firefox"));
}

}  // namespace
