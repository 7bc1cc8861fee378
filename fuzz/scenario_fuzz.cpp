// Scenario files for velmora-sim: exactly one of scenario and error comes back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/sim/Scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto result = velmora::sim::parseScenario(text);
  if (result.scenario.has_value() == result.error.has_value()) __builtin_trap();
  return 0;
}
