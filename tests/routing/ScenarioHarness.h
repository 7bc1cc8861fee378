#pragma once

// Scenarios given as JSON text: run through velmora-sim's runner, which hands
// back the transcript lines, or parsed for a test that drives the coordinator
// on the simulated desktop itself.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "audio/AudioProcessMonitor.h"
#include "cli/Simulation.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/SimDesktop.h"
#include "routing/RoutingCoordinator.h"

namespace velmora::testing {

// The scenario parsed, or a failure naming where it was refused.
inline std::optional<sim::Scenario> parsed(const std::string& json) {
  auto result = sim::parseScenario(json);
  if (result.error)
    ADD_FAILURE() << "scenario refused: " << result.error->line << ":" << result.error->column << ": "
                  << result.error->message;
  return result.scenario;
}

inline std::vector<std::string> runScenario(const std::string& json) {
  const auto scenario = parsed(json);
  if (!scenario) return {};
  std::ostringstream out;
  runSimulation(*scenario, out, SimulationOptions{true});
  std::vector<std::string> lines;
  std::istringstream in(out.str());
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

// The transcript without the routing log.
inline std::vector<std::string> withoutLog(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const auto& l : lines)
    if (l.find(" log ") == std::string::npos) out.push_back(l);
  return out;
}

// The status and default lines alone.
inline std::vector<std::string> statusAndDefaults(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const auto& l : withoutLog(lines))
    if (l.find(" stream ") == std::string::npos) out.push_back(l);
  return out;
}

inline bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline bool anyContaining(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

// A scenario, the lines its transcript must hold and the parts no line may.
struct TranscriptCase {
  const char* what;
  std::string scenario;
  std::vector<std::string> present;
  std::vector<std::string> absent = {};
};

inline void expectTranscript(const TranscriptCase& c) {
  SCOPED_TRACE(c.what);
  const auto lines = runScenario(c.scenario);
  for (const auto& line : c.present)
    EXPECT_TRUE(contains(lines, line)) << "missing " << line;
  for (const auto& part : c.absent)
    EXPECT_FALSE(anyContaining(lines, part)) << "has " << part;
}

// Two displays side by side, each with its own speakers, and USB headphones.
inline const std::string kTwoDisplays = R"j(
  "displays": [ {"id": 1, "name": "Aster U27 (HDMI)", "frame": [0, 0, 1920, 1080]},
                {"id": 2, "name": "Borealis 4K", "frame": [1920, 0, 3840, 2160]} ],
  "devices":  [ {"id": 73, "name": "Aster U27", "transport": "hdmi"},
                {"id": 80, "name": "Borealis 4K Speakers", "transport": "dprt"},
                {"id": 90, "name": "USB Headphones", "transport": "usb "} ],
)j";

inline std::string scenario(const std::string& body) {
  return std::string("{") + kTwoDisplays + body + "}";
}

inline const std::string kChromeApp = R"j(
  "apps": [ {"pid": 500, "bundleID": "com.google.Chrome", "name": "Google Chrome"} ],)j";

// Chrome plays, its window on the first display.
inline const std::string kChromePlaying = kChromeApp + R"j(
  "windows": [ {"id": "w", "pid": 500, "bounds": [100, 100, 800, 600]} ],
  "streams": [ {"id": 900, "pid": 500, "running": true} ],
)j";

// The two displays, the first one's speakers the default, and the body,
// parsed; the test drives the time itself.
inline sim::Scenario deskScenario(const std::string& body = kChromePlaying) {
  return parsed("{" + kTwoDisplays + R"j("defaultDevice": 73,)j" + body + R"j("until": 0 })j")
      .value_or(sim::Scenario{});
}

}  // namespace velmora::testing
