#pragma once

// Key files in the desktop-entry style: "[Group]" headers, "Key=Value" lines
// and "#" comments. Desktop entries, XDG autostart entries and .flatpak-info
// files are all read here.

#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// s without leading and trailing spaces, tabs and carriage returns.
std::string_view trimBlanks(std::string_view s);

// The value of key in [group], with the escapes of string values undone (\s
// space, \n newline, \t tab, \r carriage return, \\ backslash; any other
// backslash stays as written). The first occurrence counts; none when the key
// is missing or its value empty. Localised keys ("Name[de]") are other keys.
std::optional<std::string> keyFileValue(std::string_view text, std::string_view group, std::string_view key);

}  // namespace velmora
