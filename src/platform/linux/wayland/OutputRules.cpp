#include "platform/linux/wayland/OutputRules.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "platform/linux/common/ConnectorNames.h"
#include "platform/linux/common/DisplayText.h"

namespace velmora::linuxos {

namespace {

bool isPlaceholder(const std::string& text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower == "unknown" || lower == "<unknown>";
}

std::optional<std::string> usable(const std::string& text) {
  if (isPlaceholder(text) || text.empty()) return std::nullopt;
  return displayableText(text);
}

// A frame a coverage computation can use: finite, not empty, inside the
// 32-bit range compositors lay outputs out in.
bool plausible(const Rect& r) {
  constexpr double kLimit = std::numeric_limits<std::int32_t>::max();
  for (double v : {r.x, r.y, r.width, r.height})
    if (!std::isfinite(v) || std::abs(v) > kLimit) return false;
  return r.width > 0 && r.height > 0;
}

}  // namespace

std::uint32_t ConnectorIds::idFor(const std::string& connector) {
  if (auto found = ids_.find(connector); found != ids_.end()) return found->second;
  // A collision with another connector moves on to the next free id.
  std::uint32_t id = connectorHash(connector);
  auto taken = [this](std::uint32_t candidate) {
    return std::any_of(ids_.begin(), ids_.end(), [&](const auto& entry) { return entry.second == candidate; });
  };
  while (taken(id))
    ++id;
  ids_.emplace(connector, id);
  return id;
}

std::string outputDisplayName(const WaylandOutputInfo& output) {
  if (auto model = usable(output.model)) return *model;
  // With neither make nor model known, the description is the compositor's
  // own words ("Headless output 3" on wlroots 0.18, numbered apart from the
  // connector), not the monitor's: the connector names it better.
  const bool nothingKnown = isPlaceholder(output.make) && isPlaceholder(output.model);
  if (auto description = usable(output.description); description && !nothingKnown) return *description;
  return displayableText(output.connector).value_or("");
}

std::vector<PlatformScreen> screensFromOutputs(const std::vector<WaylandOutputInfo>& outputs, ConnectorIds& ids) {
  std::vector<PlatformScreen> screens;
  std::vector<std::string> connectors;
  for (const auto& output : outputs) {
    if (!output.logical || !plausible(*output.logical)) continue;
    PlatformScreen screen;
    screen.screenNumber = PlatformValue{static_cast<std::int64_t>(ids.idFor(output.connector))};
    screen.frame = *output.logical;
    screen.localizedName = outputDisplayName(output);
    screen.identity = {usable(output.make), usable(output.model), usable(output.serial), usable(output.connector)};
    screens.push_back(std::move(screen));
    connectors.push_back(displayableText(output.connector).value_or(""));
  }
  appendSharedConnectors(screens, connectors);
  return screens;
}

}  // namespace velmora::linuxos
