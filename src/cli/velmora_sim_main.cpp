// velmora-sim: the routing core on a simulated desktop, driven by a scenario.

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "cli/Simulation.h"

namespace {

constexpr const char* kUsage = "usage: velmora-sim [--trace] SCENARIO.json\n";

int refuse(const std::string& message) {
  std::cerr << "velmora-sim: " << message << '\n';
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  velmora::SimulationOptions options;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--trace") {
      options.trace = true;
    } else if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (arg.starts_with("-") && arg != "-") {
      std::cerr << "velmora-sim: unknown option " << arg << '\n' << kUsage;
      return 2;
    } else if (path.empty()) {
      path = arg;
    } else {
      std::cerr << kUsage;
      return 2;
    }
  }
  if (path.empty()) {
    std::cerr << kUsage;
    return 2;
  }

  std::ifstream file(path, std::ios::binary);
  if (!file) return refuse(path + ": cannot read: " + std::strerror(errno));
  std::stringstream text;
  text << file.rdbuf();
  if (file.bad()) return refuse(path + ": cannot read: " + std::strerror(errno));

  auto result = velmora::sim::parseScenario(text.str());
  if (result.error) {
    const auto& e = *result.error;
    if (e.line > 0)
      return refuse(path + ":" + std::to_string(e.line) + ":" + std::to_string(e.column) + ": " + e.message);
    return refuse(path + ": " + e.message);
  }
  velmora::runSimulation(*result.scenario, std::cout, options);
  return std::cout.good() ? 0 : 1;
}
