#pragma once

// The pure part of the display list on KDE Plasma: one kde_output_device_v2,
// as its events described it, turned into a screen. Kept free of Wayland so it
// can be tested with made-up events.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Screens.h"

namespace velmora::linuxos {

struct OutputDeviceState {
  std::string name;  // connector, e.g. "DP-1"
  std::string make;
  std::string model;  // KWin fills it from the EDID where it has one
  std::string serial;
  std::string edidBase64;
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t transform = 0;  // wl_output transform values
  double scale = 1;            // from wl_fixed
  std::int32_t modeWidth = 0;  // current mode, in hardware pixels
  std::int32_t modeHeight = 0;
  bool enabled = true;
};

// Standard base64 without line breaks; none for anything else.
std::optional<std::vector<std::uint8_t>> decodeBase64(const std::string& text);

// The frame in the compositor's logical coordinates (those window frames use):
// the mode turned by the transform, divided by the scale. None while the
// device has no usable mode or scale.
std::optional<Rect> logicalFrame(const OutputDeviceState& output);

// The screen, or none for a disabled device or one without a frame. Name: the
// EDID product name, else the model, else the connector name. Identity: from
// the EDID, else the make, model and serial KWin tells; the connector.
std::optional<PlatformScreen> screenFromOutputDevice(const OutputDeviceState& output);

// The screens of all devices, in the order given; devices that share a name
// get their connector appended: "DELL U2720Q (DP-2)".
std::vector<PlatformScreen> screensFromOutputDevices(const std::vector<OutputDeviceState>& outputs);

}  // namespace velmora::linuxos
