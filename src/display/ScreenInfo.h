#pragma once

#include <map>
#include <string>

#include "platform/AudioObjects.h"
#include "platform/Types.h"

namespace velmora {

struct ScreenInfo {
  DisplayID displayID = 0;
  Rect frame;
  std::string localizedName;

  // Names compare as canonically equivalent text.
  friend bool operator==(const ScreenInfo& a, const ScreenInfo& b);
};

// Display id -> the device that is that display's speakers.
using DisplayMap = std::map<DisplayID, AudioDeviceID>;

}  // namespace velmora
