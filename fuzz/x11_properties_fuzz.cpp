// Window and monitor properties as other X clients set them: any type, any
// format, any length, for any window.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/linux/x11/ScreenRules.h"
#include "platform/linux/x11/WindowRules.h"

using namespace velmora::linuxos;

namespace {

std::optional<PropertyReply> property(FuzzedDataProvider& in, std::uint32_t usualType) {
  if (in.ConsumeBool()) return std::nullopt;
  PropertyReply p;
  p.type = in.ConsumeBool() ? usualType : in.ConsumeIntegral<std::uint32_t>();
  p.format = in.PickValueInArray<std::uint8_t>({8, 16, 32, 0, 7});
  p.data = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 64));
  return p;
}

template <typename T>
std::optional<T> maybe(FuzzedDataProvider& in) {
  if (in.ConsumeBool()) return std::nullopt;
  return in.ConsumeIntegral<T>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);

  if (const auto items = items32(property(in, kAtomWindow), kAtomWindow)) {
    const auto top = topFirst(*items);
    if (top.size() != items->size()) __builtin_trap();
  }
  if (const auto name = windowClassName(property(in, kAtomString)); name && name->empty()) __builtin_trap();

  WindowReplies w;
  w.window = in.ConsumeIntegral<std::uint32_t>();
  w.viewable = maybe<bool>(in);
  w.width = maybe<std::uint32_t>(in);
  w.height = maybe<std::uint32_t>(in);
  w.rootX = maybe<std::int32_t>(in);
  w.rootY = maybe<std::int32_t>(in);
  w.netWmPid = property(in, kAtomCardinal);
  w.netWmState = property(in, kAtomAtom);
  w.netWmDesktop = property(in, kAtomCardinal);
  w.gtkFrameExtents = property(in, kAtomCardinal);
  w.clientPid = maybe<std::uint32_t>(in);
  w.clientPidInsideSandbox = maybe<std::uint32_t>(in);
  DesktopState desktop;
  desktop.currentDesktop = maybe<std::uint32_t>(in);
  desktop.hiddenAtom = in.ConsumeIntegral<std::uint32_t>();
  (void)windowOwnerPid(w);
  (void)windowIsOnscreen(w, desktop);
  (void)windowBounds(w);
  (void)windowEntry(w, desktop);

  MonitorReplies m;
  m.nameAtom = in.ConsumeIntegral<std::uint32_t>();
  if (in.ConsumeBool()) m.name = in.ConsumeRandomLengthString(300);
  m.x = in.ConsumeIntegral<std::int32_t>();
  m.y = in.ConsumeIntegral<std::int32_t>();
  m.width = in.ConsumeIntegral<std::uint32_t>();
  m.height = in.ConsumeIntegral<std::uint32_t>();
  const auto outputs = in.ConsumeIntegralInRange<std::size_t>(0, 3);
  for (std::size_t i = 0; i < outputs; ++i)
    m.outputs.push_back(in.ConsumeIntegral<std::uint32_t>());
  if (in.ConsumeBool()) m.firstOutputEdid = in.ConsumeRemainingBytes<std::uint8_t>();
  (void)screenFromMonitor(m);
  return 0;
}
