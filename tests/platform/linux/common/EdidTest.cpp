#include "platform/linux/common/Edid.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/linux/common/EdidBlob.h"

namespace velmora::linuxos {
namespace {

using test::edidWithName;

TEST(Edid, ProductNameIsTrimmedOfTerminatorAndPadding) {
  EXPECT_EQ(edidProductName(edidWithName("DELL U2720Q")), "DELL U2720Q");
  EXPECT_EQ(edidProductName(edidWithName("  LG TV")), "LG TV");
  EXPECT_EQ(edidProductName(edidWithName("ABCDEFGHIJKLM", 3)), "ABCDEFGHIJKLM");  // full 13 bytes, no terminator

  auto withExtension = edidWithName("Studio");
  withExtension.resize(256, 0x55);
  EXPECT_EQ(edidProductName(withExtension), "Studio");
}

TEST(Edid, BadBlobsGiveNoName) {
  EXPECT_FALSE(edidProductName({}));
  auto good = edidWithName("Monitor");
  EXPECT_FALSE(edidProductName(std::span(good).first(127)));

  auto badChecksum = good;
  badChecksum[127] ^= 1;
  EXPECT_FALSE(edidProductName(badChecksum));

  auto badHeader = good;
  badHeader[0] = 0x01;
  badHeader[127] -= 1;  // checksum still right; the header alone is wrong
  EXPECT_FALSE(edidProductName(badHeader));

  EXPECT_FALSE(edidProductName(edidWithName("")));      // empty name
  EXPECT_FALSE(edidProductName(edidWithName("    ")));  // padding only

  // A timing descriptor whose bytes happen to hold 0xFC is not a name.
  auto timing = edidWithName("X", 0);
  EXPECT_FALSE(edidProductName(timing));

  // Bytes outside printable ASCII never reach the name.
  auto odd = edidWithName("A\x01\xC3z");
  EXPECT_EQ(edidProductName(odd), "Az");
}

TEST(Edid, IdentityFromMakerModelAndSerial) {
  auto fix = [](std::vector<std::uint8_t> e) {
    test::fixEdidChecksum(e);
    return e;
  };
  auto e = edidWithName("DELL U2720Q");
  e[8] = 0x10;  // "DEL": 4, 5, 12 in five bits each
  e[9] = 0xAC;
  e[10] = 0x2D;  // product code 0xA12D, low byte first
  e[11] = 0xA1;
  e[12] = 0x39;  // serial number 12345
  e[13] = 0x30;
  e = fix(e);
  EXPECT_EQ(edidIdentity(e), (DisplayIdentity{"DEL", "DELL U2720Q", "12345"}));

  // The serial descriptor wins over the number; without a name the product
  // code stands for the model; letters out of range name no maker.
  auto described = e;
  const std::size_t d = 54 + 18 * 2;
  described[d + 3] = 0xFF;
  for (std::size_t i = 0; i < 13; ++i)
    described[d + 5 + i] = std::string("CN0X7K 123\n  ")[i];
  EXPECT_EQ(edidIdentity(fix(described)).serial, "CN0X7K 123");
  auto unnamed = e;
  std::fill(unnamed.begin() + 72, unnamed.begin() + 90, 0);
  unnamed[8] = 0x7F;
  unnamed[12] = unnamed[13] = 0;
  EXPECT_EQ(edidIdentity(fix(unnamed)), (DisplayIdentity{std::nullopt, "A12D", std::nullopt}));
  EXPECT_EQ(edidIdentity(std::span(e).first(100)), DisplayIdentity{});
}

}  // namespace
}  // namespace velmora::linuxos
