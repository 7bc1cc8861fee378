#pragma once

// A window report as the KWin script sends it: JSON text
//   {"api": 5 or 6, "windows": [[pid, x, y, width, height, onScreen], ...]}
// front to back. Any session client can call us, so the text is checked
// strictly: one bad entry rejects the whole report.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Windows.h"

namespace velmora::linuxos {

struct KWinSnapshot {
  int api = 0;
  std::vector<WindowListEntry> windows;
};

// Any client on the session bus may send one, so the limit is well below the
// one for compositors' replies; 4096 windows take about 200 kB.
inline constexpr std::size_t kMaxKWinReportBytes = 1 << 20;
inline constexpr std::size_t kMaxKWinReportWindows = 4096;

// The snapshot, or none with a short reason in *error.
std::optional<KWinSnapshot> parseKWinReport(std::string_view text, std::string* error = nullptr);

}  // namespace velmora::linuxos
