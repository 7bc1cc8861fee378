#pragma once

// Monitor names made the way monitors name themselves (a maker word and a
// model code, short names, bare maker names, names with HDMI in them), and
// the sink names a Linux sound server gives their speakers.

#include <cstdint>
#include <string>
#include <vector>

#include "SplitMix.h"

namespace velmora::bench {

struct Monitor {
  std::string maker;  // groups monitors of one maker, whatever their names say
  std::string name;
};

// The same count and seed always give the same list.
std::vector<Monitor> generateMonitors(std::size_t count, std::uint64_t seed);

// "maker<TAB>name" per line, or just the name, whose first word is then taken
// for the maker. Blank lines are skipped.
std::vector<Monitor> readMonitors(const std::string& text);

// "<card> HDMI / DisplayPort <port> Output (<name>)".
std::string hdmiSinkName(const std::string& card, int port, const std::string& monitorName);

inline constexpr const char* kAnalogSinkName = "Built-in Audio Analog Stereo";

// Controller names as they begin Linux HDMI sink names ("HDA Intel PCH").
const std::vector<std::string>& hdmiCards();

}  // namespace velmora::bench
