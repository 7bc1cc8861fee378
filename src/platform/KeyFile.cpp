#include "platform/KeyFile.h"

namespace velmora {

namespace {

std::string unescape(std::string_view v) {
  std::string out;
  out.reserve(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] != '\\' || i + 1 == v.size()) {
      out += v[i];
      continue;
    }
    switch (v[++i]) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case '\\':
        out += '\\';
        break;
      default:
        out += '\\';
        out += v[i];
    }
  }
  return out;
}

}  // namespace

std::optional<std::string> keyFileValue(std::string_view text, std::string_view group, std::string_view key) {
  bool inGroup = false;
  while (!text.empty()) {
    const auto eol = text.find('\n');
    const std::string_view line = trimBlanks(text.substr(0, eol));
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inGroup = line.size() == group.size() + 2 && line.substr(1, group.size()) == group && line.back() == ']';
      continue;
    }
    if (!inGroup) continue;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos || trimBlanks(line.substr(0, eq)) != key) continue;
    // Trimmed before unescaping, so "\s" keeps a space at either end.
    const std::string_view value = trimBlanks(line.substr(eq + 1));
    if (value.empty()) return std::nullopt;
    return unescape(value);
  }
  return std::nullopt;
}

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

}  // namespace velmora
