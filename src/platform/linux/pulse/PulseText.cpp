#include "platform/linux/pulse/PulseText.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace velmora::linuxos::pulse {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at the start of text, or 0.
std::size_t validSequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint32_t min = 0;
  std::uint32_t value = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    min = 0x80;
    value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    min = 0x800;
    value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    min = 0x10000;
    value = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string validUtf8(std::string_view text) {
  std::string out;
  out.reserve(std::min(text.size(), kMaxTextBytes));
  while (!text.empty()) {
    const std::size_t length = validSequenceLength(text);
    const std::string_view piece = length ? text.substr(0, length) : kReplacement;
    if (out.size() + piece.size() > kMaxTextBytes) break;
    out += piece;
    text.remove_prefix(length ? length : 1);
  }
  return out;
}

std::string_view trimPadding(std::string_view text) {
  const auto padding = [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; };
  while (!text.empty() && padding(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && padding(text.back()))
    text.remove_suffix(1);
  return text;
}

std::optional<Pid> parsePid(std::string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > std::numeric_limits<Pid>::max()) return std::nullopt;
  return static_cast<Pid>(value);
}

}  // namespace velmora::linuxos::pulse
