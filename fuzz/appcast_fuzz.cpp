// Update feeds as a server (or anyone between it and us) may send them.
#include <QByteArray>
#include <cstddef>
#include <cstdint>

#include "app/services/Appcast.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velmora::app;
  const auto parse = parseAppcast(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
  if (!parse.error.isEmpty() && !parse.items.empty()) __builtin_trap();
  for (const auto& item : parse.items) {
    (void)item.downloadPage();
    // A version compares equal to itself, and the order is antisymmetric.
    if (compareVersions(item.version, item.version) != 0) __builtin_trap();
    const QString& other = parse.items.front().version;
    const int ab = compareVersions(item.version, other);
    const int ba = compareVersions(other, item.version);
    if ((ab < 0) != (ba > 0) || (ab == 0) != (ba == 0)) __builtin_trap();
  }
  (void)newestItem(parse.items);
  return 0;
}
