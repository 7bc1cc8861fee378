// Steps of the wall clock (NTP, a hand-set clock, a resume from sleep) change
// nothing in routing: the grace period and the quiet window after our own
// switch are durations, measured on the monotonic clock.

#include <functional>
#include <string>
#include <vector>

#include "ScenarioHarness.h"

using namespace velmora;
using namespace velmora::testing;
using velmora::sim::seconds;

namespace {

constexpr double kHour = 3600.0;

// Firefox plays on display 1 from the start; VLC, with a window on display 2,
// starts playing at 1 s.
sim::Scenario twoPlayers() {
  return deskScenario(R"j(
    "apps": [ {"pid": 500, "bundleID": "org.mozilla.firefox", "name": "Firefox"},
              {"pid": 600, "bundleID": "org.videolan.vlc", "name": "VLC"} ],
    "windows": [ {"id": "ff", "pid": 500, "bounds": [200, 100, 800, 600]},
                 {"id": "vlc", "pid": 600, "bounds": [2400, 200, 1200, 700]} ],
    "streams": [ {"id": 900, "pid": 500, "running": true},
                 {"id": 901, "pid": 600, "running": false} ],
  )j");
}

struct Action {
  double at;
  std::function<void(sim::SimDesktop&)> run;
};

Action stepWallClock(double at, double by) {
  return {at, [by](sim::SimDesktop& d) { d.scheduler().stepWallClock(seconds(by)); }};
}

// What the user sees and hears, one line per change, as velmora-sim prints it.
std::vector<std::string> run(const std::vector<Action>& actions, double until) {
  AudioProcessMonitor::resetForTesting();
  sim::SimDesktop desktop(twoPlayers());
  std::vector<std::string> lines;
  auto stamp = [&] { return std::to_string(desktop.scheduler().nowSeconds()).substr(0, 5) + " "; };
  desktop.audio().onDefaultDeviceChanged = [&](AudioDeviceID d) {
    lines.push_back(stamp() + "default " + std::to_string(d));
  };
  auto coordinator = RoutingCoordinator::create(desktop.platform());
  coordinator->onStatusChanged = [&](RoutingStatus, const std::string& message) {
    if (lines.empty() || lines.back().substr(6) != message) lines.push_back(stamp() + message);
  };
  coordinator->startRouting();
  for (const Action& a : actions) {
    desktop.scheduler().runBefore(seconds(a.at));
    a.run(desktop);
  }
  desktop.scheduler().runUntil(seconds(until));
  desktop.audio().onDefaultDeviceChanged = nullptr;
  return lines;
}

TEST(ClockStep, GracePeriodIsADurationWhateverTheWallClockDoes) {
  auto play = [](bool running) { return [running](sim::SimDesktop& d) { d.audio().setRunning(900, running); }; };
  auto vlcStarts = [](sim::SimDesktop& d) { d.audio().setRunning(901, true); };
  for (const double step : {-kHour, kHour, -30.0, 30.0}) {
    SCOPED_TRACE("wall clock stepped by " + std::to_string(step) + " s");
    // A pause shorter than the grace period keeps Firefox in the lead.
    const std::vector<Action> shortPause = {
        {1.0, vlcStarts}, {3.1, play(false)}, stepWallClock(3.2, step), {4.6, play(true)}};
    const auto pausedBriefly = run(shortPause, 8.0);
    EXPECT_EQ(pausedBriefly, run({{1.0, vlcStarts}, {3.1, play(false)}, {4.6, play(true)}}, 8.0));
    EXPECT_FALSE(anyContaining(pausedBriefly, "Tracking VLC"));

    // A longer silence hands the lead to VLC 2 s after Firefox was last heard.
    const std::vector<Action> silence = {{1.0, vlcStarts}, {3.1, play(false)}, stepWallClock(3.2, step)};
    const auto silent = run(silence, 8.0);
    EXPECT_EQ(silent, run({{1.0, vlcStarts}, {3.1, play(false)}}, 8.0));
    EXPECT_TRUE(anyContaining(silent, "5.500 Tracking VLC"));
    EXPECT_TRUE(anyContaining(silent, " default 80"));
  }
}

TEST(ClockStep, QuietWindowAfterOurSwitchIsADurationWhateverTheWallClockDoes) {
  auto moveToDisplay2 = [](sim::SimDesktop& d) { d.windows().move("ff", Rect{2500, 300, 800, 600}); };
  auto userPicks73 = [](sim::SimDesktop& d) { d.audio().userSetDefault(73); };
  for (const double step : {-kHour, kHour, -30.0, 30.0}) {
    SCOPED_TRACE("wall clock stepped by " + std::to_string(step) + " s");
    // A choice made well after our switch is the user's, and is kept.
    const auto kept = run({{1.0, moveToDisplay2}, stepWallClock(1.5, step), {3.0, userPicks73}}, 6.0);
    EXPECT_EQ(kept, run({{1.0, moveToDisplay2}, {3.0, userPicks73}}, 6.0));
    EXPECT_TRUE(anyContaining(kept, "3.000 User override"));
    EXPECT_EQ(kept.back().find(" default "), std::string::npos) << "no switch back after the user's choice";

    // One within the quiet window is taken for the echo of our own switch.
    const auto echo = run({{1.0, moveToDisplay2}, stepWallClock(1.45, step), {1.6, userPicks73}}, 6.0);
    EXPECT_EQ(echo, run({{1.0, moveToDisplay2}, {1.6, userPicks73}}, 6.0));
    EXPECT_FALSE(anyContaining(echo, "User override"));
  }
}

}  // namespace
