#pragma once

// Monitor names made the way monitors name themselves (a maker word and a
// model code, short names, bare maker names, names with HDMI in them), and
// the sink names a Linux sound server gives their speakers.

#include <cstdint>
#include <string>
#include <vector>

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

// Small deterministic generator, so that every platform draws the same names.
class SplitMix {
 public:
  explicit SplitMix(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t n) { return n ? static_cast<std::size_t>(next() % n) : 0; }

 private:
  std::uint64_t state_;
};

const std::vector<std::string>& hdmiCards();

}  // namespace velmora::bench
