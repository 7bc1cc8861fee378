#include "platform/linux/common/CompositorJson.h"

namespace velmora::linuxos {

bool jsonNestingWithin(std::string_view text, int limit) {
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

std::optional<nlohmann::json> parseCompositorJson(std::string_view text, std::size_t maxBytes) {
  if (text.size() > maxBytes || !jsonNestingWithin(text)) return std::nullopt;
  nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

const nlohmann::json* jsonMember(const nlohmann::json& value, const char* key) {
  if (!value.is_object()) return nullptr;
  const auto it = value.find(key);
  return it == value.end() ? nullptr : &*it;
}

}  // namespace velmora::linuxos
