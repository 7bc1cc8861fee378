#pragma once

// Where each value of a JSON text stands, by JSON pointer, so that errors
// found after parsing can still name a line and column.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::sim {

struct TextPosition {
  std::size_t line = 1;
  std::size_t column = 1;
};

// Where a number token first stands on its own in text (byte columns, as
// above); none when it is not there.
std::optional<TextPosition> numberPosition(std::string_view text, std::string_view token);

class JsonPositions {
 public:
  // The text must already be known to be valid JSON.
  explicit JsonPositions(std::string_view text);

  // The position of the member's key (or of the array element or root
  // value); for an unknown pointer, that of its nearest known ancestor.
  TextPosition at(std::string pointer) const;

  // The first object key that appears twice in one object, if any.
  const std::optional<std::string>& duplicateKey() const { return duplicate_; }

  static std::string escape(std::string_view token);

 private:
  void value(const std::string& pointer);
  void object(const std::string& pointer);
  void array(const std::string& pointer);
  std::string string();
  void skipWhitespace();
  void advance();
  TextPosition here() const { return {line_, column_}; }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
  std::size_t column_ = 1;
  std::map<std::string, TextPosition> positions_;
  std::optional<std::string> duplicate_;
};

}  // namespace velmora::sim
