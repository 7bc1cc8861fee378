#pragma once

// The KWin script's text, built into the program from kwin/velmora-windows.js,
// and the copy of it that reports to one bus name.

#include <optional>
#include <string>
#include <string_view>

namespace velmora::linuxos {

inline constexpr std::string_view kKWinScriptPluginName = "velmora-windows";
inline constexpr std::string_view kKWinReportsPath = "/org/velmora/KWinReports";
inline constexpr std::string_view kKWinReportsInterface = "org.velmora.KWinReports1";

// The script as shipped, with the destination still a placeholder.
std::string_view kwinScriptTemplate();

// A unique connection name as the bus daemon hands them out (":1.42").
bool isUniqueBusName(std::string_view name);

// The script addressed to uniqueName; none when that is not a unique name or
// the template has no placeholder. Only unique names are written into the
// text, so nothing a caller passes can change what the script does.
std::optional<std::string> kwinScriptFor(std::string_view uniqueName,
                                         std::string_view scriptTemplate = kwinScriptTemplate());

}  // namespace velmora::linuxos
