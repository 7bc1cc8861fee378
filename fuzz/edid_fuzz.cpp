// EDID blobs as a monitor (or a client setting the RandR property) sends them.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/linux/common/Edid.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto name = velmora::linuxos::edidProductName(std::span<const std::uint8_t>(data, size));
  if (name && name->size() > size) __builtin_trap();
  return 0;
}
