#include "platform/linux/kde/KdeOutputRules.h"

#include <cmath>

#include "platform/linux/common/ConnectorNames.h"
#include "platform/linux/common/DisplayText.h"
#include "platform/linux/common/Edid.h"

namespace velmora::linuxos {

std::optional<std::vector<std::uint8_t>> decodeBase64(const std::string& text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  if (text.size() % 4 != 0) return std::nullopt;
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int v[4];
    int padding = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[i + k];
      if (c == '=' && last && k >= 2) {
        v[k] = 0;
        ++padding;
      } else if (padding > 0 || (v[k] = value(c)) < 0) {
        return std::nullopt;
      }
    }
    const std::uint32_t bits = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
    out.push_back(static_cast<std::uint8_t>(bits >> 16));
    if (padding < 2) out.push_back(static_cast<std::uint8_t>(bits >> 8));
    if (padding < 1) out.push_back(static_cast<std::uint8_t>(bits));
  }
  return out;
}

std::optional<Rect> logicalFrame(const OutputDeviceState& output) {
  if (output.modeWidth <= 0 || output.modeHeight <= 0) return std::nullopt;
  if (!std::isfinite(output.scale) || output.scale <= 0) return std::nullopt;
  double width = output.modeWidth;
  double height = output.modeHeight;
  // Odd transforms (90, 270 and their flipped forms) turn the output on its side.
  if (output.transform % 2 == 1) std::swap(width, height);
  return Rect{static_cast<double>(output.x), static_cast<double>(output.y), std::round(width / output.scale),
              std::round(height / output.scale)};
}

std::optional<PlatformScreen> screenFromOutputDevice(const OutputDeviceState& output) {
  if (!output.enabled) return std::nullopt;
  const std::optional<Rect> frame = logicalFrame(output);
  if (!frame) return std::nullopt;
  PlatformScreen screen;
  screen.screenNumber = PlatformValue(static_cast<std::int64_t>(connectorHash(output.name)));
  screen.frame = *frame;
  std::optional<std::string> name;
  const std::optional<std::vector<std::uint8_t>> edid = decodeBase64(output.edidBase64);
  if (edid && !edid->empty()) {
    name = edidProductName(*edid);
    screen.identity = edidIdentity(*edid);
  }
  if (!name) name = displayableText(output.model);
  if (!name || name->empty()) name = displayableText(output.name);
  screen.localizedName = name.value_or("");
  if (!screen.identity.maker && !screen.identity.model) {
    auto known = [](const std::string& text) -> std::optional<std::string> {
      auto shown = displayableText(text);
      return shown && !shown->empty() ? shown : std::nullopt;
    };
    screen.identity = {known(output.make), known(output.model), known(output.serial)};
  }
  screen.identity.connector = displayableText(output.name);
  return screen;
}

std::vector<PlatformScreen> screensFromOutputDevices(const std::vector<OutputDeviceState>& outputs) {
  std::vector<PlatformScreen> screens;
  std::vector<std::string> connectors;
  for (const auto& output : outputs) {
    if (auto screen = screenFromOutputDevice(output)) {
      screens.push_back(std::move(*screen));
      connectors.push_back(displayableText(output.name).value_or(""));
    }
  }
  appendSharedConnectors(screens, connectors);
  return screens;
}

}  // namespace velmora::linuxos
