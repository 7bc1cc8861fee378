// How often displays pair with their own speakers. Monitors are paired with
// Linux-style HDMI / DisplayPort sink names, once alone (beside the built-in
// analog output) and once beside a second monitor of the same maker, with the
// two sinks listed in both orders. A choice that changes with the order is a
// tie, settled only by which sink came first.
//
//   bench_pairing_share [--count N] [--seed S] [NAMES_FILE]
//
// NAMES_FILE holds "maker<TAB>name" or "name" per line; without it a list of
// N (default 8860) generated names is used.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "MonitorNames.h"
#include "display/DisplayAudioMapper.h"
#include "platform/sim/SimAudio.h"

using namespace velmora;
using velmora::bench::Monitor;

namespace {

constexpr AudioDeviceID kAnalog = 100;
constexpr AudioDeviceID kFirstSink = 101;
constexpr AudioDeviceID kSecondSink = 102;

// The device each display of a trial chooses, for the sinks in each order.
class Trial {
 public:
  Trial(const std::string& firstSink, const std::string& secondSink) {
    audio_->addDevice({kAnalog, std::string(bench::kAnalogSinkName)});
    audio_->addDevice({kFirstSink, firstSink});
    if (!secondSink.empty()) audio_->addDevice({kSecondSink, secondSink});
  }

  std::optional<AudioDeviceID> choose(const std::string& display, bool swapped) const {
    const DisplayAudioMapper mapper(AudioHardware(audio_), nullptr);
    return swapped ? mapper.bestDevice(display, {kAnalog, kSecondSink, kFirstSink})
                   : mapper.bestDevice(display, {kAnalog, kFirstSink, kSecondSink});
  }

 private:
  std::shared_ptr<sim::SimAudio> audio_ = std::make_shared<sim::SimAudio>();
};

struct Tally {
  long correct = 0;
  long total = 0;
  long ties = 0;  // trials whose outcome depends on the order of the sinks
  long nestedTies = 0;
  long trials = 0;
  std::vector<std::string> examples;

  void example(const std::string& text) {
    if (examples.size() < 8 && std::find(examples.begin(), examples.end(), text) == examples.end())
      examples.push_back(text);
  }
  double share() const { return total ? 100.0 * static_cast<double>(correct) / static_cast<double>(total) : 0; }
};

// The words of a name as the pairing sees them, for ASCII names: case and
// runs of spaces ignored, punctuation trimmed from the ends of words.
std::vector<std::string> plainWords(const std::string& name) {
  std::vector<std::string> out;
  std::istringstream in(name);
  std::string word;
  while (in >> word) {
    const std::size_t begin = word.find_first_not_of("()[]*.,:;!?\"'-/");
    if (begin == std::string::npos) continue;
    word = word.substr(begin, word.find_last_not_of("()[]*.,:;!?\"'-/") + 1 - begin);
    for (char& c : word)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    out.push_back(word);
  }
  return out;
}

// One name's words are a run inside the other's ("SONY TV" in "SONY TV *80").
bool nested(const std::string& a, const std::string& b) {
  std::vector<std::string> inner = plainWords(a);
  std::vector<std::string> outer = plainWords(b);
  if (inner.size() > outer.size()) std::swap(inner, outer);
  return !inner.empty() && std::search(outer.begin(), outer.end(), inner.begin(), inner.end()) != outer.end();
}

std::string card(bench::SplitMix& rng) {
  const auto& cards = bench::hdmiCards();
  return cards[rng.below(cards.size())];
}

Tally alone(const std::vector<Monitor>& monitors, bench::SplitMix& rng) {
  Tally t;
  for (const Monitor& m : monitors) {
    const Trial trial(bench::hdmiSinkName(card(rng), 1, m.name), "");
    ++t.trials;
    ++t.total;
    if (trial.choose(m.name, false) == kFirstSink)
      ++t.correct;
    else
      t.example("\"" + m.name + "\"");
  }
  return t;
}

// Each display of a pair, with the sinks in both orders: four choices.
void pairTrial(const std::string& a, const std::string& b, bench::SplitMix& rng, Tally& t) {
  const std::string c = card(rng);
  const Trial trial(bench::hdmiSinkName(c, 1, a), bench::hdmiSinkName(c, 2, b));
  bool tie = false;
  bool wrong = false;
  for (const auto& [display, own] : {std::pair{a, kFirstSink}, std::pair{b, kSecondSink}}) {
    const std::optional<AudioDeviceID> inOrder = trial.choose(display, false);
    const std::optional<AudioDeviceID> swapped = trial.choose(display, true);
    tie = tie || inOrder != swapped;
    for (const auto& chosen : {inOrder, swapped}) {
      ++t.total;
      if (chosen == own)
        ++t.correct;
      else
        wrong = true;
    }
  }
  ++t.trials;
  if (tie) ++t.ties;
  if (tie && nested(a, b)) ++t.nestedTies;
  if (wrong) t.example("\"" + a + "\" + \"" + b + "\"" + (tie ? " (tie)" : ""));
}

Tally sameMakerPairs(const std::vector<Monitor>& monitors, bench::SplitMix& rng) {
  std::map<std::string, std::vector<std::size_t>> byMaker;
  for (std::size_t i = 0; i < monitors.size(); ++i)
    byMaker[monitors[i].maker].push_back(i);
  Tally t;
  for (const Monitor& m : monitors) {
    const std::vector<std::size_t>& group = byMaker[m.maker];
    // A partner of the same maker under another name, if the maker has one.
    for (int attempt = 0; attempt < 64; ++attempt) {
      const Monitor& other = monitors[group[rng.below(group.size())]];
      if (plainWords(other.name) == plainWords(m.name)) continue;
      pairTrial(m.name, other.name, rng, t);
      break;
    }
  }
  return t;
}

Tally identicalPairs(const std::vector<Monitor>& monitors, bench::SplitMix& rng) {
  std::set<std::vector<std::string>> seen;
  Tally t;
  for (const Monitor& m : monitors) {
    if (seen.insert(plainWords(m.name)).second) pairTrial(m.name, m.name, rng, t);
  }
  return t;
}

void print(const char* label, const Tally& t, const char* tiedUnit) {
  std::printf("%-24s %7.2f%% paired correctly (%ld of %ld)", label, t.share(), t.correct, t.total);
  if (tiedUnit) std::printf(", %ld of %ld %s tied", t.ties, t.trials, tiedUnit);
  if (tiedUnit && t.nestedTies != t.ties) std::printf(", %ld of them one name inside the other", t.nestedTies);
  std::printf("\n");
  for (const std::string& e : t.examples)
    std::printf("    e.g. %s\n", e.c_str());
}

int usage() {
  std::fprintf(stderr, "usage: bench_pairing_share [--count N] [--seed S] [NAMES_FILE]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t count = 8860;
  std::uint64_t seed = 1;
  std::string file;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--count" || arg == "--seed") && i + 1 < argc) {
      char* end = nullptr;
      const unsigned long long value = std::strtoull(argv[++i], &end, 10);
      if (!end || *end || value == 0) return usage();
      (arg == "--count" ? count : seed) = static_cast<std::size_t>(value);
    } else if (!arg.empty() && arg[0] != '-' && file.empty()) {
      file = arg;
    } else {
      return usage();
    }
  }

  std::vector<Monitor> monitors;
  if (file.empty()) {
    monitors = bench::generateMonitors(count, seed);
    std::printf("monitors: %zu generated (seed %llu)\n", monitors.size(), static_cast<unsigned long long>(seed));
  } else {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "bench_pairing_share: cannot read %s\n", file.c_str());
      return 2;
    }
    std::ostringstream text;
    text << in.rdbuf();
    monitors = bench::readMonitors(text.str());
    std::printf("monitors: %zu from %s\n", monitors.size(), file.c_str());
  }
  if (monitors.empty()) {
    std::fprintf(stderr, "bench_pairing_share: no monitor names\n");
    return 2;
  }

  bench::SplitMix rng(seed ^ 0x5EEDu);
  print("alone:", alone(monitors, rng), nullptr);
  print("same maker, other name:", sameMakerPairs(monitors, rng), "pairs");
  print("identical names:", identicalPairs(monitors, rng), "pairs");
  return 0;
}
