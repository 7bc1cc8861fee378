#pragma once

// Unicode handling of display and device names, kept out of the public
// headers so that ICU stays a private dependency of this library.

#include <string>
#include <string_view>
#include <vector>

#include <unicode/unistr.h>

namespace velmora::nametext {

// Decodes UTF-8; ill-formed sequences become U+FFFD. wellFormed, if given,
// says whether any replacement was needed.
icu::UnicodeString decode(std::string_view utf8, bool* wellFormed = nullptr);

std::string encode(const icu::UnicodeString& text);

// Pieces between whitespace-or-newline characters, trimmed of punctuation at
// both ends; pieces left empty are dropped.
std::vector<icu::UnicodeString> words(const icu::UnicodeString& name);

// The words 4 or more grapheme clusters long, in order.
std::vector<icu::UnicodeString> longWords(const std::vector<icu::UnicodeString>& words);

// longWords(words(name)).
std::vector<icu::UnicodeString> tokens(const icu::UnicodeString& name);

// Whether run occurs in words as consecutive words, each compared with
// equalIgnoringCase. An empty run occurs nowhere.
bool containsRun(const std::vector<icu::UnicodeString>& words, const std::vector<icu::UnicodeString>& run);

// The text without white space at either end.
icu::UnicodeString trimmed(const icu::UnicodeString& text);

// Case-insensitive, accent-sensitive equality under the default locale.
bool equalIgnoringCase(const icu::UnicodeString& a, const icu::UnicodeString& b);

// Canonically equivalent (NFC-equal) texts.
bool canonicallyEqual(const icu::UnicodeString& a, const icu::UnicodeString& b);

}  // namespace velmora::nametext
