#include "ScenarioHarness.h"

using namespace velmora::testing;

namespace {

// Chrome plays with its window on display 1; VLC is idle with a window there too.
const std::string kChromeAndVlc = R"j(
  "defaultDevice": 73,
  "apps": [ {"pid": 500, "bundleID": "com.google.Chrome", "name": "Google Chrome"},
            {"pid": 600, "bundleID": "org.videolan.vlc", "name": "VLC"} ],
  "windows": [ {"id": "w", "pid": 500, "bounds": [100, 100, 800, 600]},
               {"id": "vlc", "pid": 600, "bounds": [300, 200, 800, 600]} ],
  "streams": [ {"id": 900, "pid": 500, "running": true} ],
)j";

std::string chrome(const std::string& events, double until) {
  return scenario(kChromeAndVlc + R"j("events": [)j" + events + R"j(], "until": )j" + std::to_string(until));
}

const std::string kToDisplay2 = R"j({"at": 2.1, "do": "moveWindow", "window": "w", "bounds": [2500, 300, 800, 600]})j";

// An override kept while the window stays on its display and cleared when it
// moves to another is pinned by examples/override.json; routing taking over
// again after that, by examples/living-room.json; an unplugged default
// falling back without an override, by examples/unplug.json.
TEST(RouteSwitching, WhenTheDefaultIsSwitchedAndWhenItIsLeftAlone) {
  const TranscriptCase cases[] = {
      // Reports at 2.25 and 2.5 want the same target: the deadline stays 2.55.
      {"switch runs 0.3 s after the first report that asked for it",
       chrome(kToDisplay2 + R"j(, {"at": 2.3, "do": "moveWindow", "window": "w", "bounds": [2600, 300, 800, 600]})j",
              4.0),
       {"2.250 status tracking Switching to Borealis 4K…", "2.550 default 80 Borealis 4K Speakers",
        "2.550 log Routing default switch target=80 (Borealis 4K Speakers) ok=true before=73 after=80",
        "2.550 status tracking → Borealis 4K Speakers", "3.000 status tracking Tracking Google Chrome"},
       {"user override"}},
      {"moving back before the deadline cancels the switch",
       chrome(kToDisplay2 + R"j(, {"at": 2.3, "do": "moveWindow", "window": "w", "bounds": [100, 100, 800, 600]})j",
              4.0),
       {"2.250 status tracking Switching to Borealis 4K…"},
       {" default 80", "switch target"}},
      {"straddling and missing windows never switch",
       chrome(R"j({"at": 1.1, "do": "moveWindow", "window": "w", "bounds": [1520, 100, 800, 600]},
                  {"at": 2.1, "do": "closeWindow", "window": "w"},
                  {"at": 3.1, "do": "openWindow", "window": {"id": "thin", "pid": 500, "bounds": [2500, 100, 50, 600]}})j",
              4.0),
       {"1.250 log Routing debug no display crosses 50% threshold", "2.250 log Routing debug window rect=nil",
        "3.250 log Routing debug window rect=nil"},
       {"Switching"}},
      // The report at 2.75 still finds the target differing and tries again.
      {"a failed set is a failed switch, and the next report retries",
       chrome(kToDisplay2 + R"j(, {"at": 2.2, "do": "fail", "operation": "setDefaultOutputDevice"})j", 4.0),
       {"2.550 log Routing default switch target=80 (Borealis 4K Speakers) ok=false before=73 after=73",
        "2.550 status tracking Switch failed", "2.750 status tracking Switching to Borealis 4K…",
        "3.050 default 80 Borealis 4K Speakers"}},
      {"a set that succeeds with both reads around it failing is not a success",
       chrome(kToDisplay2 + R"j(, {"at": 2.55, "do": "fail", "operation": "defaultOutputDevice", "count": 2})j", 3.0),
       {"2.550 log Routing default switch target=80 (Borealis 4K Speakers) ok=true before=0 after=0",
        "2.550 status tracking Switch failed"}},
      {"switching names the display, the outcome a device without a name by its id",
       chrome(R"j({"at": 1.1, "do": "renameDevice", "device": 80, "name": null},
                  {"at": 1.2, "do": "moveWindow", "window": "w", "bounds": [2500, 300, 800, 600]})j",
              2.0),
       {"1.250 status tracking Switching to Borealis 4K…", "1.550 status tracking → device 80"}},
      // Switched at 2.55; moved back at 2.6, so a switch to 73 is due at 3.05.
      // Headphones picked at 3.02 fall inside the quiet window of the first
      // switch, and no window report comes between them and the deadline.
      {"headphones picked just before a scheduled switch are kept",
       chrome(kToDisplay2 + R"j(, {"at": 2.6, "do": "moveWindow", "window": "w", "bounds": [100, 100, 800, 600]},
                                  {"at": 3.02, "do": "setDefault", "device": 90})j",
              5.0),
       {"2.550 default 80 Borealis 4K Speakers", "3.020 default 90 USB Headphones",
        "3.050 log Routing default switch target=73 dropped: the default left the display speakers"},
       {"default 73"}},
      // The user's change 0.05 s after our switch is ignored, and the next
      // report switches back.
      {"our own switch and changes within its quiet window are no override",
       chrome(R"j({"at": 1.1, "do": "moveWindow", "window": "w", "bounds": [2500, 300, 800, 600]},
                  {"at": 1.6, "do": "setDefault", "device": 73})j",
              3.0),
       {"1.550 default 80 Borealis 4K Speakers", "1.600 default 73 Aster U27",
        "1.750 status tracking Switching to Borealis 4K…", "2.050 default 80 Borealis 4K Speakers"},
       {"user override"}},
      // Chrome is forgotten at 4.5; VLC's window is on display 1, so the
      // output goes back to its speakers.
      {"an override is cleared when another app is tracked",
       chrome(R"j({"at": 1.1, "do": "setDefault", "device": 80},
                  {"at": 2.1, "do": "addStream", "stream": {"id": 901, "pid": 600, "running": true}},
                  {"at": 2.2, "do": "removeStream", "stream": 900})j",
              6.0),
       {"1.100 status override User override", "4.500 status tracking Switching to Aster U27 (HDMI)…",
        "4.800 default 73 Aster U27"}},
      // The last known default stayed absent, so the unplug's change is judged
      // on its own: 80 is a display speaker, hence an anchor with no app.
      {"a failed read at start skips the fall-back test and anchors without an app",
       scenario(R"j("defaultDevice": 73,
         "events": [ {"at": 0, "do": "fail", "operation": "defaultOutputDevice"},
                     {"at": 1.1, "do": "unplug", "device": 73},
                     {"at": 1.2, "do": "setDefault", "device": 80} ],
         "until": 2.0)j"),
       {"1.100 default 80 Borealis 4K Speakers", "1.100 log Routing default user override anchored: app=-1 screen=0",
        "1.100 status override User override"}},
  };
  for (const auto& c : cases)
    expectTranscript(c);
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
  EXPECT_EQ(lines, std::vector<std::string>{"0.000 status idle No display speakers detected"});
}

// External beats override, and override beats tracking.
TEST(RoutingStatus, FollowsWhereTheDefaultIs) {
  auto lines = statusAndDefaults(runScenario(chrome(R"j({"at": 1.1, "do": "setDefault", "device": 80},
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
