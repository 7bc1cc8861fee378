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
// both ends, kept when 4 or more grapheme clusters long.
std::vector<icu::UnicodeString> tokens(const icu::UnicodeString& name);

// Case-insensitive, accent-sensitive equality under the default locale.
bool equalIgnoringCase(const icu::UnicodeString& a, const icu::UnicodeString& b);

// Canonically equivalent (NFC-equal) texts.
bool canonicallyEqual(const icu::UnicodeString& a, const icu::UnicodeString& b);

}  // namespace velmora::nametext
