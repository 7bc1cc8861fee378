// Desktop entries and .flatpak-info files: written by whoever installed the
// application, or by the sandboxed application itself.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/linux/proc/DesktopEntries.h"
#include "platform/linux/proc/ProcFs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velmora::linuxos;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto checked = [&](const auto& value) {
    if (value && (value->empty() || value->size() > size)) __builtin_trap();
  };
  checked(parseDesktopEntryName(text));
  checked(parseFlatpakAppId(text));
  checked(keyFileValue(text, "Desktop Entry", "Exec"));
  checked(keyFileValue(text, "Application", "name"));
  return 0;
}
