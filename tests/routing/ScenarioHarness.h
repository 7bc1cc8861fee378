#pragma once

// Runs a scenario given as JSON text through velmora-sim's runner and hands
// back the transcript lines.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/Simulation.h"
#include "platform/sim/Scenario.h"

namespace velmora::testing {

inline std::vector<std::string> runScenario(const std::string& json, bool trace = true) {
  auto parsed = sim::parseScenario(json);
  if (parsed.error) {
    ADD_FAILURE() << "scenario refused: " << parsed.error->line << ":" << parsed.error->column << ": "
                  << parsed.error->message;
    return {};
  }
  std::ostringstream out;
  runSimulation(*parsed.scenario, out, SimulationOptions{trace});
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

inline bool contains(const std::vector<std::string>& lines, const std::string& line) {
  for (const auto& l : lines)
    if (l == line) return true;
  return false;
}

inline bool anyContaining(const std::vector<std::string>& lines, const std::string& part) {
  for (const auto& l : lines)
    if (l.find(part) != std::string::npos) return true;
  return false;
}

// Index of the first line equal to `line`, or -1.
inline long indexOf(const std::vector<std::string>& lines, const std::string& line) {
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i] == line) return static_cast<long>(i);
  return -1;
}

// Two displays side by side, each with its own speakers, and USB headphones.
inline const char* kTwoDisplays = R"j(
  "displays": [ {"id": 1, "name": "Aster U27 (HDMI)", "frame": [0, 0, 1920, 1080]},
                {"id": 2, "name": "Borealis 4K", "frame": [1920, 0, 3840, 2160]} ],
  "devices":  [ {"id": 73, "name": "Aster U27", "transport": "hdmi"},
                {"id": 80, "name": "Borealis 4K Speakers", "transport": "dprt"},
                {"id": 90, "name": "USB Headphones", "transport": "usb "} ],
)j";

inline std::string scenario(const std::string& body) {
  return std::string("{") + kTwoDisplays + body + "}";
}

}  // namespace velmora::testing
