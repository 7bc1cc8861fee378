#include "platform/linux/gnome/MutterDisplays.h"

#include <algorithm>
#include <cmath>

#include "platform/linux/common/ConnectorNames.h"
#include "platform/linux/common/DisplayText.h"

namespace velmora::linuxos::gnome {
namespace {

const MutterMonitor* findMonitor(const MutterState& state, const std::string& connector) {
  for (const auto& monitor : state.monitors)
    if (monitor.connector == connector) return &monitor;
  return nullptr;
}

std::optional<std::string> known(const std::string& text) {
  auto shown = displayableText(text);
  return shown && !shown->empty() ? shown : std::nullopt;
}

std::string nameOf(const MutterMonitor& monitor) {
  if (auto product = displayableText(monitor.product)) return *product;
  if (monitor.displayName)
    if (auto name = displayableText(*monitor.displayName)) return *name;
  return displayableText(monitor.connector).value_or("");
}

}  // namespace

std::vector<PlatformScreen> screensFromState(const MutterState& state) {
  struct Made {
    PlatformScreen screen;
    std::string connector;
  };
  std::vector<Made> made;
  for (const auto& logical : state.logicalMonitors) {
    const MutterMonitor* monitor = nullptr;
    for (const auto& connector : logical.connectors) {
      monitor = findMonitor(state, connector);
      if (monitor && monitor->width && monitor->height) break;
      monitor = nullptr;
    }
    if (!monitor || *monitor->width <= 0 || *monitor->height <= 0) continue;
    if (!std::isfinite(logical.scale) || logical.scale <= 0) continue;

    double width = *monitor->width, height = *monitor->height;
    // Odd transforms turn the monitor a quarter: its width runs vertically.
    if (logical.transform % 2 == 1) std::swap(width, height);
    if (state.layoutMode == LayoutMode::logical) {
      width = std::round(width / logical.scale);
      height = std::round(height / logical.scale);
    }
    PlatformScreen screen;
    screen.screenNumber = PlatformValue{static_cast<std::int64_t>(connectorHash(monitor->connector))};
    screen.frame = Rect{static_cast<double>(logical.x), static_cast<double>(logical.y), width, height};
    screen.localizedName = nameOf(*monitor);
    screen.identity = {known(monitor->vendor), known(monitor->product), known(monitor->serial),
                       known(monitor->connector)};
    made.push_back({std::move(screen), monitor->connector});
  }

  std::vector<PlatformScreen> screens;
  std::vector<std::string> connectors;
  for (auto& m : made) {
    screens.push_back(std::move(m.screen));
    connectors.push_back(std::move(m.connector));
  }
  appendSharedConnectors(screens, connectors);
  return screens;
}

}  // namespace velmora::linuxos::gnome
