#pragma once

// EDID base blocks made up for tests.

#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

namespace velmora::linuxos::test {

inline void fixEdidChecksum(std::vector<std::uint8_t>& e) {
  e[127] = static_cast<std::uint8_t>(256 - std::accumulate(e.begin(), e.begin() + 127, 0u) % 256);
}

// A base block with one product-name descriptor in the given slot. Slot 0
// holds a detailed timing (non-zero pixel clock) as real blobs do.
inline std::vector<std::uint8_t> edidWithName(const std::string& text, std::size_t slot = 1) {
  std::vector<std::uint8_t> e(128, 0);
  const std::uint8_t header[] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  std::copy(std::begin(header), std::end(header), e.begin());
  e[54] = 0x3A;
  e[55] = 0x02;
  const std::size_t d = 54 + 18 * slot;
  e[d + 3] = 0xFC;
  for (std::size_t i = 0; i < 13; ++i)
    e[d + 5 + i] = i < text.size() ? text[i] : (i == text.size() ? 0x0A : 0x20);
  fixEdidChecksum(e);
  return e;
}

inline std::string base64(const std::vector<std::uint8_t>& bytes) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 3; ++k)
      v = v << 8 | (i + k < bytes.size() ? bytes[i + k] : 0);
    for (std::size_t k = 0; k < 4; ++k)
      out += i + k <= bytes.size() ? alphabet[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

}  // namespace velmora::linuxos::test
