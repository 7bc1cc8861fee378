// /proc/PID/stat, status and cgroup texts: the command name in stat is chosen
// by the process itself, spaces and parentheses included.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/linux/proc/ProcFs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velmora::linuxos;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto stat = parseProcStat(text)) {
    if (stat->command.size() > size || stat->parent < 0) __builtin_trap();
  }
  if (const auto pid = parseInnermostPid(text)) {
    if (*pid <= 0) __builtin_trap();
  }
  if (const auto snap = parseSnapName(text)) {
    if (snap->empty() || snap->size() > size) __builtin_trap();
  }
  return 0;
}
