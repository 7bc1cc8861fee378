#include "platform/linux/x11/WindowRules.h"

#include <algorithm>
#include <cstring>

#include "platform/linux/common/DisplayText.h"

namespace velmora::linuxos {

std::optional<std::vector<std::uint32_t>> items32(const std::optional<PropertyReply>& property,
                                                  std::uint32_t expectedType) {
  if (!property || property->type != expectedType || property->format != 32) return std::nullopt;
  if (property->data.size() % 4 != 0) return std::nullopt;
  std::vector<std::uint32_t> items(property->data.size() / 4);
  if (!items.empty()) std::memcpy(items.data(), property->data.data(), property->data.size());
  return items;
}

std::optional<std::uint32_t> windowOwnerPid(const WindowReplies& w) {
  if (const auto pid = items32(w.netWmPid, kAtomCardinal); pid && !pid->empty() && (*pid)[0] != 0) {
    if (w.clientPid && *w.clientPid != 0 && w.clientPidInsideSandbox == (*pid)[0]) return w.clientPid;
    return (*pid)[0];
  }
  if (w.clientPid && *w.clientPid != 0) return w.clientPid;
  return std::nullopt;
}

bool windowIsOnscreen(const WindowReplies& w, const DesktopState& desktop) {
  if (!w.viewable.value_or(false)) return false;
  if (const auto states = items32(w.netWmState, kAtomAtom)) {
    if (std::find(states->begin(), states->end(), desktop.hiddenAtom) != states->end()) return false;
  }
  const auto onDesktop = items32(w.netWmDesktop, kAtomCardinal);
  if (desktop.currentDesktop && onDesktop && !onDesktop->empty()) {
    const std::uint32_t d = (*onDesktop)[0];
    if (d != kAllDesktops && d != *desktop.currentDesktop) return false;
  }
  return true;
}

std::optional<Rect> windowBounds(const WindowReplies& w) {
  if (!w.width || !w.height || !w.rootX || !w.rootY) return std::nullopt;
  Rect r{static_cast<double>(*w.rootX), static_cast<double>(*w.rootY), static_cast<double>(*w.width),
         static_cast<double>(*w.height)};
  // left, right, top, bottom: the shadow a client-side decorated window draws around itself.
  if (const auto extents = items32(w.gtkFrameExtents, kAtomCardinal); extents && extents->size() >= 4) {
    const double left = (*extents)[0], right = (*extents)[1], top = (*extents)[2], bottom = (*extents)[3];
    if (left + right < r.width && top + bottom < r.height) {
      r = Rect{r.x + left, r.y + top, r.width - left - right, r.height - top - bottom};
    }
  }
  return r;
}

std::optional<WindowListEntry> windowEntry(const WindowReplies& w, const DesktopState& desktop) {
  if (!w.viewable) return std::nullopt;
  const std::optional<Rect> bounds = windowBounds(w);
  if (!bounds) return std::nullopt;
  WindowListEntry entry;
  if (const auto pid = windowOwnerPid(w)) entry.ownerPID = PlatformValue{static_cast<std::int64_t>(*pid)};
  entry.isOnscreen = PlatformValue{windowIsOnscreen(w, desktop)};
  entry.bounds = PlatformValue{*bounds};
  return entry;
}

std::optional<std::string> windowClassName(const std::optional<PropertyReply>& wmClass) {
  if (!wmClass || wmClass->type != kAtomString || wmClass->format != 8) return std::nullopt;
  const std::string text(wmClass->data.begin(), wmClass->data.end());
  const auto split = text.find('\0');
  std::string name = split == std::string::npos ? text : text.substr(split + 1);
  if (const auto end = name.find('\0'); end != std::string::npos) name.resize(end);
  if (name.empty()) name = text.substr(0, split);
  return displayableText(std::move(name));
}

std::vector<std::uint32_t> topFirst(std::vector<std::uint32_t> bottomFirst) {
  std::reverse(bottomFirst.begin(), bottomFirst.end());
  return bottomFirst;
}

}  // namespace velmora::linuxos
