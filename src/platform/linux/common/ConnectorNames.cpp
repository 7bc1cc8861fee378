#include "platform/linux/common/ConnectorNames.h"

#include <algorithm>

namespace velmora::linuxos {

std::uint32_t connectorHash(std::string_view connector) {
  std::uint32_t hash = 2166136261u;
  for (const unsigned char c : connector)
    hash = (hash ^ c) * 16777619u;
  return hash;
}

void appendSharedConnectors(std::vector<PlatformScreen>& screens, const std::vector<std::string>& connectors) {
  std::vector<std::string> names;
  for (const auto& s : screens)
    names.push_back(s.localizedName);
  for (std::size_t i = 0; i < screens.size() && i < connectors.size(); ++i) {
    const bool shared = std::count(names.begin(), names.end(), names[i]) > 1;
    if (shared && !connectors[i].empty() && names[i] != connectors[i])
      screens[i].localizedName = names[i] + " (" + connectors[i] + ")";
  }
}

}  // namespace velmora::linuxos
