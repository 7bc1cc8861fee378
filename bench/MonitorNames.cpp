#include "MonitorNames.h"

#include <sstream>

namespace velmora::bench {

namespace {

// In a pattern '#' is a digit, '@' a capital letter and '%' a small letter;
// everything else stands for itself.
struct Pattern {
  const char* text;
  int weight;
};

struct Maker {
  const char* name;
  int weight;  // rough share of audio-capable models, in tenths of a percent
  std::vector<Pattern> patterns;
};

const std::vector<Maker>& makers() {
  static const std::vector<Maker> table = {
      {"Samsung",
       120,
       {{"SAMSUNG", 5},
        {"C##@###", 3},
        {"S##@###", 2},
        {"LC##@###@", 1},
        {"U##@###", 1},
        {"Odyssey G#", 1},
        {"LS##@###@", 1}}},
      {"LG",
       140,
       {{"LG ULTRAGEAR", 3},
        {"LG HDR 4K", 3},
        {"LG HDR WFHD", 1},
        {"LG HDR QHD", 1},
        {"LG FULL HD", 2},
        {"LG TV", 2},
        {"LG TV SSCR2", 1},
        {"LG ULTRAWIDE", 1},
        {"LG ULTRAFINE", 1},
        {"LG IPS FULLHD", 1},
        {"LG SDQHD", 1},
        {"##@@###", 1}}},
      {"Dell",
       80,
       {{"DELL U####@", 4},
        {"DELL P####@", 3},
        {"DELL S####@@", 2},
        {"DELL SE####@", 1},
        {"DELL G####@", 1},
        {"DELL AW####@", 1},
        {"DELL E####@", 1}}},
      {"HP",
       80,
       {{"HP Z##", 2},
        {"HP Z##n G#", 1},
        {"HP E###", 2},
        {"HP ##f", 2},
        {"HP ##mh", 1},
        {"HP V###", 1},
        {"HP X##c", 1},
        {"HP P## G#", 1},
        {"HP M##f", 1},
        {"HP ##es", 1}}},
      {"ASUS",
       80,
       {{"ASUS VG###@", 3},
        {"ASUS PB###@", 2},
        {"ASUS VP###@", 1},
        {"ROG PG###@", 1},
        {"ASUS MG###@", 1},
        {"VG###", 1},
        {"ASUS VZ###", 1},
        {"ASUS HDMI", 1}}},
      {"Acer",
       80,
       {{"Acer XF###@", 2},
        {"Acer K###@@", 2},
        {"Acer ED###@", 1},
        {"KG###@", 1},
        {"Acer G###@@", 1},
        {"Acer SA###", 1},
        {"VG###@", 1}}},
      {"AOC",
       70,
       {{"AOC ##V#", 2}, {"AOC ##G#@", 2}, {"##G#W#G#", 1}, {"AOC Q##G#", 1}, {"AOC C##G#", 1}, {"AOC ##B#H", 1}}},
      {"Philips",
       60,
       {{"PHL ###V#", 3}, {"PHL ###E#", 2}, {"PHL BDM####", 1}, {"Philips FTV", 1}, {"PHILIPS", 1}, {"PHL ###B#", 1}}},
      {"BenQ",
       50,
       {{"BenQ GW####", 3}, {"BenQ EW####", 1}, {"BenQ XL####@", 1}, {"BenQ PD####@", 1}, {"BenQ GL####", 1}}},
      {"Lenovo", 40, {{"LEN T##%-##", 3}, {"LEN L##%-##", 1}, {"LEN G##%-##", 1}, {"LEN Q##%-##", 1}}},
      {"ViewSonic", 50, {{"VX####-@-%%%", 1}, {"VA####-@", 2}, {"VX####-#@@", 1}, {"VG####", 1}, {"VX####", 2}}},
      {"MSI", 40, {{"MSI MAG###@", 2}, {"MSI G##C#", 2}, {"MSI Optix G##", 1}}},
      {"Gigabyte", 30, {{"GIGABYTE M##@", 2}, {"GIGABYTE G##@@", 2}, {"M##@", 1}, {"AORUS FI##@", 1}}},
      {"Sony", 20, {{"SONY TV  *##", 3}, {"SONY TV", 1}, {"SONY", 1}}},
      {"Sceptre", 20, {{"Sceptre E##", 2}, {"Sceptre F##", 1}, {"Sceptre C##", 1}, {"Sceptre HDMI", 1}}},
      {"Vizio", 15, {{"VIZIO", 3}, {"VIZIO V###-@", 1}}},
      {"Hisense", 15, {{"HiSense", 2}, {"HISENSE", 1}, {"Hisense TV", 1}}},
      {"TCL", 10, {{"TCL", 1}, {"TCL TV", 2}, {"TCL ##@###", 1}}},
      {"Xiaomi", 10, {{"Mi TV", 2}, {"Mi Monitor", 1}, {"XIAOMI", 1}}},
      {"Generic",
       20,
       {{"HDMI", 2}, {"TV HDMI", 1}, {"HDMI TV", 1}, {"4K HDMI", 1}, {"MStar Demo", 2}, {"TV", 1}, {"Monitor", 1}}},
  };
  return table;
}

template <class Item>
const Item& pickWeighted(const std::vector<Item>& items, SplitMix& rng) {
  int total = 0;
  for (const Item& item : items)
    total += item.weight;
  auto roll = static_cast<int>(rng.below(static_cast<std::size_t>(total)));
  for (const Item& item : items) {
    if (roll < item.weight) return item;
    roll -= item.weight;
  }
  return items.back();
}

std::string expand(const char* pattern, SplitMix& rng) {
  std::string out;
  for (const char* p = pattern; *p; ++p) {
    switch (*p) {
      case '#':
        out += static_cast<char>('0' + rng.below(10));
        break;
      case '@':
        out += static_cast<char>('A' + rng.below(26));
        break;
      case '%':
        out += static_cast<char>('a' + rng.below(26));
        break;
      default:
        out += *p;
    }
  }
  return out;
}

}  // namespace

std::vector<Monitor> generateMonitors(std::size_t count, std::uint64_t seed) {
  SplitMix rng(seed);
  std::vector<Monitor> out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const Maker& maker = pickWeighted(makers(), rng);
    out.push_back({maker.name, expand(pickWeighted(maker.patterns, rng).text, rng)});
  }
  return out;
}

std::vector<Monitor> readMonitors(const std::string& text) {
  std::vector<Monitor> out;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos) {
      out.push_back({line.substr(0, tab), line.substr(tab + 1)});
      continue;
    }
    const std::size_t start = line.find_first_not_of(' ');
    std::string maker = line.substr(start, line.find(' ', start) - start);
    for (char& c : maker)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    out.push_back({maker, line});
  }
  return out;
}

std::string hdmiSinkName(const std::string& card, int port, const std::string& monitorName) {
  return card + " HDMI / DisplayPort " + std::to_string(port) + " Output (" + monitorName + ")";
}

const std::vector<std::string>& hdmiCards() {
  static const std::vector<std::string> cards = {"HDA Intel PCH", "HDA ATI HDMI", "HDA NVidia", "HDA Intel HDMI"};
  return cards;
}

}  // namespace velmora::bench
