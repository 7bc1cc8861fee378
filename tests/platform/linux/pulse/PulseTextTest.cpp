#include "platform/linux/pulse/PulseText.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora::linuxos::pulse {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(PulseText, ReplacesInvalidUtf8AndCapsLength) {
  EXPECT_EQ(validUtf8("Aster U27 – Café"), "Aster U27 – Café");
  EXPECT_EQ(validUtf8("a\xFF"
                      "b"),
            "a" + kFffd + "b");
  EXPECT_EQ(validUtf8("\xC3"), kFffd);                                      // truncated
  EXPECT_EQ(validUtf8("\xC0\xAF"), kFffd + kFffd);                          // overlong '/'
  EXPECT_EQ(validUtf8("\xED\xA0\x80"), kFffd + kFffd + kFffd);              // surrogate
  EXPECT_EQ(validUtf8("\xF4\x90\x80\x80"), kFffd + kFffd + kFffd + kFffd);  // past U+10FFFF
  EXPECT_EQ(validUtf8("\xF0\x9F\x94\x8A"), "\xF0\x9F\x94\x8A");

  // A huge name is cut at a character boundary and stays valid.
  std::string huge;
  for (int i = 0; i < 5000; ++i)
    huge += "é\xFF";
  const std::string cut = validUtf8(huge);
  EXPECT_LE(cut.size(), kMaxTextBytes);
  EXPECT_GT(cut.size(), kMaxTextBytes - 4);
  EXPECT_EQ(validUtf8(cut), cut);
}

TEST(PulseText, ParsesPidsStrictly) {
  EXPECT_EQ(parsePid("4242"), 4242);
  EXPECT_EQ(parsePid("2147483647"), 2147483647);
  for (const char* bad :
       {"", "abc", "-5", "+5", " 5", "5 ", "12a", "0", "2147483648", "99999999999999999999", "4294967297", "0x10"}) {
    EXPECT_EQ(parsePid(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace velmora::linuxos::pulse
