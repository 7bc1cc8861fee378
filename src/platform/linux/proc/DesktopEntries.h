#pragma once

// The Name of installed desktop entries, looked up once per desktop file id.

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::linuxos {

// The untranslated Name of the [Desktop Entry] group.
std::optional<std::string> parseDesktopEntryName(std::string_view text);

class DesktopEntries {
 public:
  // Folders holding "applications/", most important first.
  explicit DesktopEntries(std::vector<std::filesystem::path> dataDirs);

  // The user's data home followed by $XDG_DATA_DIRS (or its default).
  static std::vector<std::filesystem::path> dataDirsFromEnvironment();

  // The Name of the first of ids that is installed; cached, thread-safe.
  std::optional<std::string> name(const std::vector<std::string>& desktopIds);

 private:
  std::optional<std::string> lookup(const std::string& desktopId) const;

  std::vector<std::filesystem::path> dataDirs_;
  std::mutex mutex_;
  std::map<std::string, std::optional<std::string>> cache_;
};

}  // namespace velmora::linuxos
