#include "platform/linux/x11/ScreenRules.h"

#include "platform/linux/common/DisplayText.h"
#include "platform/linux/common/Edid.h"

namespace velmora::linuxos {

PlatformScreen screenFromMonitor(const MonitorReplies& monitor) {
  PlatformScreen screen;
  const std::uint32_t number = monitor.outputs.empty() ? monitor.nameAtom : monitor.outputs.front();
  screen.screenNumber = PlatformValue{static_cast<std::int64_t>(number)};
  screen.frame = Rect{static_cast<double>(monitor.x), static_cast<double>(monitor.y),
                      static_cast<double>(monitor.width), static_cast<double>(monitor.height)};
  std::optional<std::string> name;
  if (monitor.firstOutputEdid) name = edidProductName(*monitor.firstOutputEdid);
  if (!name && monitor.name) name = displayableText(*monitor.name);
  screen.localizedName = name.value_or("");
  if (monitor.firstOutputEdid) screen.identity = edidIdentity(*monitor.firstOutputEdid);
  if (monitor.firstOutputName) {
    screen.identity.connector = displayableText(*monitor.firstOutputName);
  } else if (monitor.name) {
    screen.identity.connector = displayableText(*monitor.name);
  }
  return screen;
}

}  // namespace velmora::linuxos
