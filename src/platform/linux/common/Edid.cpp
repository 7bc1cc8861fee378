#include "platform/linux/common/Edid.h"

#include <algorithm>
#include <array>
#include <numeric>

namespace velmora::linuxos {

namespace {

constexpr std::size_t kBlockSize = 128;
constexpr std::array<std::uint8_t, 8> kHeader = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr std::array<std::size_t, 4> kDescriptorOffsets = {54, 72, 90, 108};
constexpr std::size_t kDescriptorSize = 18;
constexpr std::uint8_t kProductNameTag = 0xFC;

}  // namespace

std::optional<std::string> edidProductName(std::span<const std::uint8_t> edid) {
  if (edid.size() < kBlockSize) return std::nullopt;
  const auto base = edid.first(kBlockSize);
  if (!std::equal(kHeader.begin(), kHeader.end(), base.begin())) return std::nullopt;
  const unsigned sum = std::accumulate(base.begin(), base.end(), 0u);
  if (sum % 256 != 0) return std::nullopt;

  for (std::size_t offset : kDescriptorOffsets) {
    const auto d = base.subspan(offset, kDescriptorSize);
    // A display descriptor has a zero pixel clock and a zero reserved byte.
    if (d[0] != 0 || d[1] != 0 || d[2] != 0 || d[3] != kProductNameTag) continue;
    std::string name;
    for (std::uint8_t c : d.subspan(5)) {
      if (c == 0x0A || c == 0x00) break;
      // The field is ASCII; anything else would not be valid text.
      if (c >= 0x20 && c < 0x7F) name.push_back(static_cast<char>(c));
    }
    const auto first = name.find_first_not_of(' ');
    if (first == std::string::npos) return std::nullopt;
    name = name.substr(first, name.find_last_not_of(' ') - first + 1);
    return name;
  }
  return std::nullopt;
}

}  // namespace velmora::linuxos
