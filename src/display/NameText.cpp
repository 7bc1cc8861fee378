#include "display/NameText.h"

#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <cstring>
#include <limits>
#include <memory>
#include <utility>

namespace velmora::nametext {

namespace {

constexpr int kMinimumTokenLength = 4;

bool isSeparator(UChar32 c) {
  // White_Space is exactly the space separators, tab, the line and paragraph
  // separators and the other line breaks (LF, VT, FF, CR, NEL).
  return u_isUWhiteSpace(c) != 0;
}

bool isPunctuation(UChar32 c) {
  return u_ispunct(c) != 0;
}

// [begin, end) of text without the characters at either end that drop says
// to drop.
template <typename Drop>
std::pair<int32_t, int32_t> trimmedSpan(const icu::UnicodeString& text, int32_t begin, int32_t end, Drop drop) {
  while (begin < end && drop(text.char32At(begin)))
    begin = text.moveIndex32(begin, 1);
  while (end > begin) {
    const int32_t last = text.moveIndex32(end, -1);
    if (!drop(text.char32At(last))) break;
    end = last;
  }
  return {begin, end};
}

// Created once; clones are cheap and each caller gets its own.
const icu::BreakIterator* graphemePrototype() {
  static const std::unique_ptr<icu::BreakIterator> prototype = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) it.reset();
    return it;
  }();
  return prototype.get();
}

// Counts grapheme clusters, stopping once the limit is reached.
int graphemeCount(icu::BreakIterator* it, const icu::UnicodeString& text, int limit) {
  if (!it) return text.countChar32();
  it->setText(text);
  int count = 0;
  it->first();
  while (count < limit && it->next() != icu::BreakIterator::DONE)
    ++count;
  return count;
}

std::unique_ptr<icu::Collator> makeCollator() {
  icu::Locale locale = icu::Locale::getDefault();
  // The C/POSIX locale expresses no language preference, and its tailoring
  // orders capitals apart from small letters, which would defeat the case
  // fold; fall back to the root collation there.
  if (std::strcmp(locale.getVariant(), "POSIX") == 0) locale = icu::Locale::getRoot();
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
  if (U_FAILURE(status) || !collator) {
    status = U_ZERO_ERROR;
    collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) return nullptr;
  }
  // Secondary strength: letters and accents count, case does not.
  collator->setStrength(icu::Collator::SECONDARY);
  status = U_ZERO_ERROR;
  collator->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
  return collator;
}

// Created once and only used through const calls, which ICU allows from
// several threads at once.
const icu::Collator* sharedCollator() {
  static const std::unique_ptr<icu::Collator> collator = makeCollator();
  return collator.get();
}

const icu::Normalizer2* nfc() {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(status);
  return U_SUCCESS(status) ? n : nullptr;
}

icu::UnicodeString normalized(const icu::UnicodeString& text) {
  const icu::Normalizer2* n = nfc();
  if (!n) return text;
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString out = n->normalize(text, status);
  return U_SUCCESS(status) ? out : text;
}

}  // namespace

icu::UnicodeString decode(std::string_view utf8, bool* wellFormed) {
  if (wellFormed) *wellFormed = true;
  // ICU lengths are 32-bit; a longer name is cut, which counts as ill-formed.
  constexpr std::size_t kMax = static_cast<std::size_t>(std::numeric_limits<int32_t>::max() - 1);
  if (utf8.size() > kMax) {
    utf8 = utf8.substr(0, kMax);
    if (wellFormed) *wellFormed = false;
  }
  icu::UnicodeString out;
  if (utf8.empty()) return out;
  const auto length = static_cast<int32_t>(utf8.size());
  // Every byte yields at most one UTF-16 unit.
  UChar* buffer = out.getBuffer(length + 1);
  if (!buffer) {
    if (wellFormed) *wellFormed = false;
    return out;
  }
  int32_t written = 0;
  int32_t substitutions = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(buffer, length + 1, &written, utf8.data(), length, 0xFFFD, &substitutions, &status);
  out.releaseBuffer(U_SUCCESS(status) ? written : 0);
  if (wellFormed && (U_FAILURE(status) || substitutions > 0)) *wellFormed = false;
  return out;
}

std::string encode(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

std::vector<icu::UnicodeString> words(const icu::UnicodeString& name) {
  std::vector<icu::UnicodeString> out;
  const int32_t length = name.length();
  int32_t start = 0;
  int32_t i = 0;
  while (true) {
    const bool atEnd = i >= length;
    const UChar32 c = atEnd ? 0 : name.char32At(i);
    if (!atEnd && !isSeparator(c)) {
      i = name.moveIndex32(i, 1);
      continue;
    }
    auto [begin, end] = trimmedSpan(name, start, i, isPunctuation);
    if (end > begin) out.emplace_back(name, begin, end - begin);
    if (atEnd) break;
    i = name.moveIndex32(i, 1);
    start = i;
  }
  return out;
}

std::vector<icu::UnicodeString> longWords(const std::vector<icu::UnicodeString>& words) {
  std::vector<icu::UnicodeString> out;
  std::unique_ptr<icu::BreakIterator> graphemes;
  if (const auto* prototype = graphemePrototype()) graphemes.reset(prototype->clone());
  for (const icu::UnicodeString& word : words) {
    if (graphemeCount(graphemes.get(), word, kMinimumTokenLength) >= kMinimumTokenLength) out.push_back(word);
  }
  return out;
}

std::vector<icu::UnicodeString> tokens(const icu::UnicodeString& name) {
  return longWords(words(name));
}

bool containsRun(const std::vector<icu::UnicodeString>& words, const std::vector<icu::UnicodeString>& run) {
  if (run.empty() || run.size() > words.size()) return false;
  for (std::size_t first = 0; first + run.size() <= words.size(); ++first) {
    std::size_t k = 0;
    while (k < run.size() && equalIgnoringCase(words[first + k], run[k]))
      ++k;
    if (k == run.size()) return true;
  }
  return false;
}

icu::UnicodeString trimmed(const icu::UnicodeString& text) {
  const auto [begin, end] = trimmedSpan(text, 0, text.length(), isSeparator);
  return icu::UnicodeString(text, begin, end - begin);
}

bool equalIgnoringCase(const icu::UnicodeString& a, const icu::UnicodeString& b) {
  if (const icu::Collator* collator = sharedCollator()) {
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result = collator->compare(a, b, status);
    if (U_SUCCESS(status)) return result == UCOL_EQUAL;
  }
  // Without collation data: full case fold of the composed forms.
  icu::UnicodeString foldedA = normalized(a);
  icu::UnicodeString foldedB = normalized(b);
  foldedA.foldCase();
  foldedB.foldCase();
  return foldedA == foldedB;
}

bool canonicallyEqual(const icu::UnicodeString& a, const icu::UnicodeString& b) {
  if (a == b) return true;
  return normalized(a) == normalized(b);
}

}  // namespace velmora::nametext
