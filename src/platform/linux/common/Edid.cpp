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
constexpr std::uint8_t kSerialTag = 0xFF;

// The base block of a blob with the right header and checksum.
std::optional<std::span<const std::uint8_t>> baseBlock(std::span<const std::uint8_t> edid) {
  if (edid.size() < kBlockSize) return std::nullopt;
  const auto base = edid.first(kBlockSize);
  if (!std::equal(kHeader.begin(), kHeader.end(), base.begin())) return std::nullopt;
  const unsigned sum = std::accumulate(base.begin(), base.end(), 0u);
  if (sum % 256 != 0) return std::nullopt;
  return base;
}

// The text of the first display descriptor with this tag, without its
// padding and terminator; none when there is none or it is blank.
std::optional<std::string> descriptorText(std::span<const std::uint8_t> base, std::uint8_t tag) {
  for (std::size_t offset : kDescriptorOffsets) {
    const auto d = base.subspan(offset, kDescriptorSize);
    // A display descriptor has a zero pixel clock and a zero reserved byte.
    if (d[0] != 0 || d[1] != 0 || d[2] != 0 || d[3] != tag) continue;
    std::string text;
    for (std::uint8_t c : d.subspan(5)) {
      if (c == 0x0A || c == 0x00) break;
      // The field is ASCII; anything else would not be valid text.
      if (c >= 0x20 && c < 0x7F) text.push_back(static_cast<char>(c));
    }
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::nullopt;
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> edidProductName(std::span<const std::uint8_t> edid) {
  const auto base = baseBlock(edid);
  return base ? descriptorText(*base, kProductNameTag) : std::nullopt;
}

DisplayIdentity edidIdentity(std::span<const std::uint8_t> edid) {
  DisplayIdentity identity;
  const auto base = baseBlock(edid);
  if (!base) return identity;
  const auto b = *base;
  // Three letters of five bits each, 1 for A, most significant first.
  const unsigned maker = (unsigned{b[8]} << 8) | b[9];
  std::string letters;
  for (int shift : {10, 5, 0}) {
    const unsigned letter = (maker >> shift) & 0x1F;
    if (letter >= 1 && letter <= 26) letters.push_back(static_cast<char>('A' + letter - 1));
  }
  if (letters.size() == 3) identity.maker = letters;
  identity.model = descriptorText(b, kProductNameTag);
  if (!identity.model) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const unsigned code = (unsigned{b[11]} << 8) | b[10];
    identity.model =
        std::string{kHex[(code >> 12) & 0xF], kHex[(code >> 8) & 0xF], kHex[(code >> 4) & 0xF], kHex[code & 0xF]};
  }
  identity.serial = descriptorText(b, kSerialTag);
  const std::uint32_t number =
      std::uint32_t{b[12]} | (std::uint32_t{b[13]} << 8) | (std::uint32_t{b[14]} << 16) | (std::uint32_t{b[15]} << 24);
  if (!identity.serial && number != 0) identity.serial = std::to_string(number);
  return identity;
}

}  // namespace velmora::linuxos
