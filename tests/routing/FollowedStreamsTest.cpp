// Where the tracked application's own streams play. Restored pins at start,
// a second stream, a switch and a restart, and hand moves to a display and to
// headphones are pinned by examples/pinned-stream.json and
// examples/stream-by-hand.json.

#include "ScenarioHarness.h"

using namespace velmora;
using namespace velmora::testing;
using velmora::sim::seconds;

namespace {

// Chrome on the first display, whose speakers are the default; VLC plays on
// the second, started later.
std::string chromeAnd(const std::string& chromeStream, const std::string& events) {
  return scenario(R"j(
    "defaultDevice": 73,
    "apps": [ {"pid": 500, "bundleID": "com.google.Chrome", "name": "Google Chrome"},
              {"pid": 600, "bundleID": "org.videolan.vlc", "name": "VLC"} ],
    "windows": [ {"id": "w", "pid": 500, "bounds": [100, 100, 800, 600]},
                 {"id": "vlc", "pid": 600, "bounds": [2500, 300, 800, 600]} ],
    "streams": [ )j" +
                  chromeStream + R"j( ],
    "events": [ )j" +
                  events + R"j( ],
    "until": 5.0)j");
}

TEST(FollowedStreams, WhereTheTrackedAppPlaysDecides) {
  const TranscriptCase cases[] = {
      {"pinned to headphones: the user's choice, left there and no switch for it",
       chromeAnd(R"j({"id": 900, "pid": 500, "running": true, "device": 90})j",
                 R"j({"at": 1.1, "do": "moveWindow", "window": "w", "bounds": [2500, 300, 800, 600]})j"),
       {"0.000 status external External output (USB Headphones)",
        "0.000 log Routing default tracked app plays on external output: USB Headphones"},
       {" default 80", "moving stream", "Switching"}},
      {"another application's pinned stream is never moved",
       chromeAnd(R"j({"id": 900, "pid": 500, "running": true})j",
                 R"j({"at": 0.6, "do": "addStream", "stream": {"id": 901, "pid": 600, "running": true, "device": 73}},
                     {"at": 1.1, "do": "moveWindow", "window": "w", "bounds": [2500, 300, 800, 600]})j"),
       {"1.550 default 80 Borealis 4K Speakers", "1.550 stream 900 Google Chrome → 80 Borealis 4K Speakers"},
       {"stream 901"}},
      {"a move the server refuses is logged once and never asked again",
       chromeAnd(R"j({"id": 900, "pid": 500, "running": true, "device": 80, "movable": false})j", ""),
       {"0.000 log Routing default stream 900 cannot be moved to 73: the sound server refuses",
        "0.000 stream 900 Google Chrome → 80 Borealis 4K Speakers", "0.000 status tracking Tracking Google Chrome"},
       {"0.250 log Routing default stream 900 cannot", "moving stream"}},
      {"a move the server takes but does not carry out is asked again a second later",
       chromeAnd(R"j({"id": 900, "pid": 500, "running": true, "device": 80})j",
                 R"j({"at": 0, "do": "fail", "operation": "setProcessOutputDevice"})j"),
       {"0.000 stream 900 Google Chrome → 80 Borealis 4K Speakers", "1.000 stream 900 Google Chrome → 73 Aster U27"},
       {"0.250 log Routing default moving"}},
      {"... three times at most",
       chromeAnd(R"j({"id": 900, "pid": 500, "running": true, "device": 80})j",
                 R"j({"at": 0, "do": "fail", "operation": "setProcessOutputDevice", "count": -1})j"),
       {"2.000 log Routing default moving stream 900 from 80 to 73"},
       {"3.000 log Routing default moving", "4.000 log Routing default moving"}},
      {"a stream that stops a moment while moved by hand (PipeWire's does) was moved, not started there",
       chromeAnd(R"j({"id": 900, "pid": 500, "running": true})j",
                 R"j({"at": 1.0, "do": "setRunning", "stream": 900, "running": false},
                     {"at": 1.1, "do": "moveStream", "stream": 900, "device": 80},
                     {"at": 1.7, "do": "setRunning", "stream": 900, "running": true})j"),
       {"1.750 log Routing default stream 900 moved by hand to 80 (Borealis 4K Speakers)"},
       {"moving stream 900 from 80"}},
      {"a hand move within a second of our own switch is taken for its echo",
       chromeAnd(R"j({"id": 900, "pid": 500, "running": true})j",
                 R"j({"at": 1.1, "do": "moveWindow", "window": "w", "bounds": [2500, 300, 800, 600]},
                     {"at": 1.6, "do": "moveStream", "stream": 900, "device": 73})j"),
       {"1.600 stream 900 Google Chrome → 73 Aster U27", "1.750 log Routing default moving stream 900 from 73 to 80"},
       {"user override"}},
  };
  for (const auto& c : cases)
    expectTranscript(c);
}

TEST(FollowedStreams, TheShellHearsOfTheTrackedAppAndItsUnmovableStreams) {
  AudioProcessMonitor::resetForTesting();
  sim::SimDesktop desktop(deskScenario(R"j(
    "apps": [ {"pid": 500, "bundleID": "com.google.Chrome", "name": "Google Chrome"} ],
    "processes": [ {"pid": 501, "parent": 500} ],
    "windows": [ {"id": "w", "pid": 500, "bounds": [100, 100, 800, 600]} ],
    "streams": [ {"id": 900, "pid": 501, "running": true, "device": 80, "movable": false},
                 {"id": 901, "pid": 500, "running": true, "device": 80} ],)j"));
  auto coordinator = RoutingCoordinator::create(desktop.platform());
  std::vector<std::optional<FollowedApplication>> told;
  coordinator->onFollowedChanged = [&](const std::optional<FollowedApplication>& app) { told.push_back(app); };
  coordinator->startRouting();
  desktop.scheduler().runUntil(seconds(2.0));
  const FollowedApplication chrome{500, "Google Chrome", {{900, true}, {901, false}}};
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told.back(), chrome);
  EXPECT_EQ(desktop.audio().streamDevice(900), 80u);
  EXPECT_EQ(desktop.audio().streamDevice(901), 73u);

  // Gone: no streams while it is remembered, then nothing followed.
  sim::ScenarioEvent quit;
  quit.kind = sim::ScenarioEvent::Kind::quitApp;
  quit.pid = 500;
  desktop.apply(quit);
  desktop.scheduler().runUntil(seconds(5.0));
  ASSERT_EQ(told.size(), 3u);
  EXPECT_EQ(told[1], (FollowedApplication{500, "Google Chrome", {}}));
  EXPECT_EQ(told[2], std::nullopt);
}

}  // namespace
