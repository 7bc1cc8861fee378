#include "platform/sim/ScenarioPositions.h"

#include <set>

namespace velmora::sim {

JsonPositions::JsonPositions(std::string_view text) : text_(text) {
  skipWhitespace();
  if (pos_ < text_.size()) value("");
}

std::string JsonPositions::escape(std::string_view token) {
  std::string out;
  for (char c : token) {
    if (c == '~')
      out += "~0";
    else if (c == '/')
      out += "~1";
    else
      out += c;
  }
  return out;
}

TextPosition JsonPositions::at(std::string pointer) const {
  for (;;) {
    auto it = positions_.find(pointer);
    if (it != positions_.end()) return it->second;
    if (pointer.empty()) return {};
    pointer.erase(pointer.rfind('/'));
  }
}

void JsonPositions::advance() {
  if (pos_ >= text_.size()) return;
  if (text_[pos_] == '\n') {
    ++line_;
    column_ = 1;
  } else {
    ++column_;
  }
  ++pos_;
}

void JsonPositions::skipWhitespace() {
  while (pos_ < text_.size() &&
         (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r'))
    advance();
}

std::string JsonPositions::string() {
  // Keys are compared by their raw text; escapes in keys are rare enough in
  // scenario files that exact decoding does not matter here.
  std::string out;
  advance();  // opening quote
  while (pos_ < text_.size() && text_[pos_] != '"') {
    if (text_[pos_] == '\\') {
      out += text_[pos_];
      advance();
    }
    if (pos_ < text_.size()) {
      out += text_[pos_];
      advance();
    }
  }
  advance();  // closing quote
  return out;
}

void JsonPositions::value(const std::string& pointer) {
  positions_.try_emplace(pointer, here());
  if (pos_ >= text_.size()) return;
  char c = text_[pos_];
  if (c == '{') {
    object(pointer);
  } else if (c == '[') {
    array(pointer);
  } else if (c == '"') {
    string();
  } else {
    while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '}' && text_[pos_] != ']' &&
           text_[pos_] != ' ' && text_[pos_] != '\n' && text_[pos_] != '\t' && text_[pos_] != '\r')
      advance();
  }
}

void JsonPositions::object(const std::string& pointer) {
  std::set<std::string> keys;
  advance();  // {
  skipWhitespace();
  while (pos_ < text_.size() && text_[pos_] != '}') {
    TextPosition keyPosition = here();
    std::string key = string();
    std::string child = pointer + "/" + escape(key);
    if (!keys.insert(key).second && !duplicate_) duplicate_ = child;
    positions_[child] = keyPosition;
    skipWhitespace();
    advance();  // :
    skipWhitespace();
    value(child);
    skipWhitespace();
    if (pos_ < text_.size() && text_[pos_] == ',') {
      advance();
      skipWhitespace();
    }
  }
  advance();  // }
}

void JsonPositions::array(const std::string& pointer) {
  advance();  // [
  skipWhitespace();
  std::size_t index = 0;
  while (pos_ < text_.size() && text_[pos_] != ']') {
    value(pointer + "/" + std::to_string(index++));
    skipWhitespace();
    if (pos_ < text_.size() && text_[pos_] == ',') {
      advance();
      skipWhitespace();
    }
  }
  advance();  // ]
}

std::optional<TextPosition> numberPosition(std::string_view text, std::string_view token) {
  if (token.empty()) return std::nullopt;
  const auto partOfNumber = [](char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
  };
  for (std::size_t at = text.find(token); at != std::string_view::npos; at = text.find(token, at + 1)) {
    const std::size_t end = at + token.size();
    if ((at > 0 && partOfNumber(text[at - 1])) || (end < text.size() && partOfNumber(text[end]))) continue;
    TextPosition position;
    for (std::size_t i = 0; i < at; ++i) {
      if (text[i] == '\n') {
        ++position.line;
        position.column = 1;
      } else {
        ++position.column;
      }
    }
    return position;
  }
  return std::nullopt;
}

}  // namespace velmora::sim
