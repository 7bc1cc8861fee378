#pragma once

// Runs the routing core on a simulated desktop in virtual time and writes what
// the user would see and hear: status changes and default-device changes.

#include <cstdint>
#include <ostream>

#include "platform/sim/Scenario.h"

namespace velmora {

struct SimulationOptions {
  // Interleave the routing log lines.
  bool trace = false;
};

struct SimulationStats {
  std::uint64_t queueItems = 0;
  std::uint64_t statusReports = 0;
  std::uint64_t transcriptLines = 0;
};

SimulationStats runSimulation(const sim::Scenario& scenario, std::ostream& out, SimulationOptions options = {});

}  // namespace velmora
