#include "platform/linux/proc/DesktopEntries.h"

#include <cstdlib>

#include "platform/linux/proc/ProcFs.h"

namespace velmora::linuxos {

std::optional<std::string> parseDesktopEntryName(std::string_view text) {
  return keyFileValue(text, "Desktop Entry", "Name");
}

DesktopEntries::DesktopEntries(std::vector<std::filesystem::path> dataDirs) : dataDirs_(std::move(dataDirs)) {}

std::vector<std::filesystem::path> DesktopEntries::dataDirsFromEnvironment() {
  std::vector<std::filesystem::path> dirs;
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if (dataHome && *dataHome) {
    dirs.emplace_back(dataHome);
  } else if (home && *home) {
    dirs.push_back(std::filesystem::path(home) / ".local/share");
  }
  const char* env = std::getenv("XDG_DATA_DIRS");
  std::string_view list = (env && *env) ? env : "/usr/local/share:/usr/share";
  while (!list.empty()) {
    const auto colon = list.find(':');
    const std::string_view dir = list.substr(0, colon);
    if (!dir.empty()) dirs.emplace_back(dir);
    list.remove_prefix(colon == std::string_view::npos ? list.size() : colon + 1);
  }
  return dirs;
}

std::optional<std::string> DesktopEntries::lookup(const std::string& desktopId) const {
  for (const auto& dir : dataDirs_) {
    if (const auto text = readSmallFile(dir / "applications" / desktopId)) return parseDesktopEntryName(*text);
  }
  return std::nullopt;
}

std::optional<std::string> DesktopEntries::name(const std::vector<std::string>& desktopIds) {
  for (const std::string& id : desktopIds) {
    // A file id never names a path outside the applications folders.
    if (id.empty() || id.find('/') != std::string::npos || id.starts_with('.')) continue;
    std::optional<std::string> found;
    {
      std::lock_guard lock(mutex_);
      if (auto it = cache_.find(id); it != cache_.end()) {
        found = it->second;
      } else {
        found = lookup(id);
        cache_.emplace(id, found);
      }
    }
    if (found) return found;
  }
  return std::nullopt;
}

}  // namespace velmora::linuxos
