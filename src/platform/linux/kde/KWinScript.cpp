#include "platform/linux/kde/KWinScript.h"

#include <algorithm>
#include <cctype>

namespace velmora::linuxos {

namespace {
constexpr std::string_view kPlaceholder = "@VELMORA_BUS_NAME@";

bool allDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}
}  // namespace

bool isUniqueBusName(std::string_view name) {
  if (name.size() < 4 || name.size() > 255 || name.front() != ':') return false;
  name.remove_prefix(1);
  const auto dot = name.find('.');
  if (dot == std::string_view::npos) return false;
  return allDigits(name.substr(0, dot)) && allDigits(name.substr(dot + 1));
}

std::optional<std::string> kwinScriptFor(std::string_view uniqueName, std::string_view scriptTemplate) {
  if (!isUniqueBusName(uniqueName)) return std::nullopt;
  std::string text(scriptTemplate);
  bool replaced = false;
  for (auto at = text.find(kPlaceholder); at != std::string::npos; at = text.find(kPlaceholder, at)) {
    text.replace(at, kPlaceholder.size(), uniqueName);
    at += uniqueName.size();
    replaced = true;
  }
  if (!replaced) return std::nullopt;
  return text;
}

}  // namespace velmora::linuxos
