#include <gtest/gtest.h>

#include <thread>

#include "display/DisplayAudioMapper.h"

namespace velmora {
namespace {

using Tokens = std::vector<std::string>;

TEST(NameTokens, SplitsAtEveryWhitespaceAndTrimsPunctuation) {
  EXPECT_EQ(DisplayAudioMapper::nameTokens("Aster Q270X"), (Tokens{"Aster", "Q270X"}));
  EXPECT_EQ(DisplayAudioMapper::nameTokens("AB TV X900"), (Tokens{"X900"}));
  EXPECT_EQ(DisplayAudioMapper::nameTokens("Aster U27 (HDMI)"), (Tokens{"Aster", "HDMI"}));
  EXPECT_EQ(DisplayAudioMapper::nameTokens("AB TV"), Tokens{});
  EXPECT_EQ(DisplayAudioMapper::nameTokens(""), Tokens{});
  EXPECT_EQ(DisplayAudioMapper::nameTokens("Café (HDMI)"), (Tokens{"Café", "HDMI"}));
  // Inner punctuation stays; only the ends are trimmed, and only punctuation
  // (the plus sign is a symbol).
  EXPECT_EQ(DisplayAudioMapper::nameTokens("Built-in «Display», +Plus"), (Tokens{"Built-in", "Display", "+Plus"}));
  // Tabs, newlines, no-break and ideographic spaces, line separators all split.
  EXPECT_EQ(DisplayAudioMapper::nameTokens("Alpha\tBravo\nCharlie\u00A0Delta\u3000Echos\u2028Foxtrot"),
            (Tokens{"Alpha", "Bravo", "Charlie", "Delta", "Echos", "Foxtrot"}));
  // Runs of separators and pure punctuation give nothing extra; repeats stay.
  EXPECT_EQ(DisplayAudioMapper::nameTokens("  Studio \t\t ---- Studio...  "), (Tokens{"Studio", "Studio"}));
}

TEST(NameTokens, CountsUserPerceivedCharacters) {
  // Four letters, two of them with combining accents: 6 code points, 4 clusters.
  const std::string combining = "e\u0301te\u0301";
  EXPECT_EQ(DisplayAudioMapper::nameTokens(combining + "s"), (Tokens{combining + "s"}));
  EXPECT_EQ(DisplayAudioMapper::nameTokens(combining), Tokens{});
  // Three emoji flags are 6 code points but 3 characters.
  EXPECT_EQ(DisplayAudioMapper::nameTokens("\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7\U0001F1EC\U0001F1E7"), Tokens{});
  // Supplementary-plane letters count once each.
  EXPECT_EQ(DisplayAudioMapper::nameTokens("\U00010400\U00010401\U00010402\U00010403").size(), 1u);
}

TEST(NameTokens, IllFormedTextDoesNotBreakTheSplit) {
  const Tokens tokens = DisplayAudioMapper::nameTokens("Aster\xff\xfe Q270X \xc3");
  ASSERT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[0], "Aster\uFFFD\uFFFD");
  EXPECT_EQ(tokens[1], "Q270X");
  EXPECT_EQ(DisplayAudioMapper::nameTokens(std::string_view("Alpha\0Bravo", 11)).size(), 1u);
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
