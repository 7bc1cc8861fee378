#include <gtest/gtest.h>

#include <thread>

#include "display/DisplayAudioMapper.h"

namespace velmora {
namespace {

using Tokens = std::vector<std::string>;

// Words are split at any white space, trimmed of punctuation at their ends,
// and kept only from four user-perceived characters up.
TEST(NameTokens, SplitsTrimsAndDropsShortWords) {
  // Four letters, two of them with combining accents: 6 code points, 4 clusters.
  const std::string combining = "e\u0301te\u0301";
  const struct {
    const char* what;
    std::string name;
    Tokens tokens;
  } cases[] = {
      {"plain", "Aster Q270X", {"Aster", "Q270X"}},
      {"short words dropped", "AB TV X900", {"X900"}},
      {"brackets trimmed", "Aster U27 (HDMI)", {"Aster", "HDMI"}},
      {"nothing long enough", "AB TV", {}},
      {"empty", "", {}},
      {"accented", "Café (HDMI)", {"Café", "HDMI"}},
      // Only the ends are trimmed, and only punctuation (the plus sign is a symbol).
      {"inner punctuation stays", "Built-in «Display», +Plus", {"Built-in", "Display", "+Plus"}},
      {"every kind of white space",
       "Alpha\tBravo\nCharlie\u00A0Delta\u3000Echos\u2028Foxtrot",
       {"Alpha", "Bravo", "Charlie", "Delta", "Echos", "Foxtrot"}},
      // Runs of separators and pure punctuation give nothing extra; repeats stay.
      {"runs and repeats", "  Studio \t\t ---- Studio...  ", {"Studio", "Studio"}},
      {"combining accents, four characters", combining + "s", {combining + "s"}},
      {"combining accents, three characters", combining, {}},
      {"three flags of two code points each", "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7\U0001F1EC\U0001F1E7", {}},
      {"supplementary-plane letters count once each",
       "\U00010400\U00010401\U00010402\U00010403",
       {"\U00010400\U00010401\U00010402\U00010403"}},
      {"ill-formed bytes", "Aster\xff\xfe Q270X \xc3", {"Aster\uFFFD\uFFFD", "Q270X"}},
      {"NUL is no separator", std::string("Alpha\0Bravo", 11), {std::string("Alpha\0Bravo", 11)}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DisplayAudioMapper::nameTokens(c.name), c.tokens) << c.what;
}

TEST(TokensEqual, IgnoresCaseButNotAccentsOrLength) {
  EXPECT_TRUE(DisplayAudioMapper::tokensEqual("ASTER", "Aster"));
  EXPECT_TRUE(DisplayAudioMapper::tokensEqual("CAFÉ", "café"));
  EXPECT_FALSE(DisplayAudioMapper::tokensEqual("Astera", "Aster"));
  EXPECT_FALSE(DisplayAudioMapper::tokensEqual("Café", "Cafe"));
  // Composed and decomposed spellings are the same word.
  EXPECT_TRUE(DisplayAudioMapper::tokensEqual("Café", "Cafe\u0301"));
  EXPECT_FALSE(DisplayAudioMapper::tokensEqual("Aster\xff", "Aster"));
}

TEST(TokensEqual, SafeFromSeveralThreads) {
  std::vector<std::thread> threads;
  std::atomic<int> mismatches{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        if (!DisplayAudioMapper::tokensEqual("BOREALIS", "borealis")) ++mismatches;
        if (DisplayAudioMapper::nameTokens("Borealis 4K Speakers").size() != 2) ++mismatches;
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(mismatches, 0);
}

TEST(ScreenInfoEquality, ComparesAllFieldsAndNamesAsCanonicalText) {
  const ScreenInfo base{7, Rect{0, 0, 1920, 1080}, "Café"};
  EXPECT_EQ(base, (ScreenInfo{7, Rect{0, 0, 1920, 1080}, "Cafe\u0301"}));
  EXPECT_NE(base, (ScreenInfo{8, Rect{0, 0, 1920, 1080}, "Café"}));
  EXPECT_NE(base, (ScreenInfo{7, Rect{10, 0, 1920, 1080}, "Café"}));
  EXPECT_NE(base, (ScreenInfo{7, Rect{0, 0, 1920, 1080}, "CAFÉ"}));
  // Different invalid bytes would both decode to U+FFFD; they still differ.
  EXPECT_NE((ScreenInfo{7, {}, "A\xff"}), (ScreenInfo{7, {}, "A\xfe"}));
  EXPECT_EQ((ScreenInfo{7, {}, "A\xff"}), (ScreenInfo{7, {}, "A\xff"}));
}

}  // namespace
}  // namespace velmora
