#pragma once

// The copy of the KWin script that KWin loads, addressed to our bus name. It
// lives in a folder only we can enter: $XDG_RUNTIME_DIR/velmora, or, without
// a private runtime folder, one made for this run in the temporary folder and
// removed with the script. The file is always made anew (O_EXCL), so nothing
// another user put in its place is ever written through.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::linuxos {

class KWinScriptFile {
 public:
  // The file named name holding text, or none with the reason in *why.
  static std::unique_ptr<KWinScriptFile> write(const std::optional<std::string>& runtimeDir,
                                               const std::filesystem::path& tempDir, std::string_view name,
                                               std::string_view text, std::string* why);
  // Removes the file, and the folder when it was made for this run.
  ~KWinScriptFile();

  KWinScriptFile(const KWinScriptFile&) = delete;
  KWinScriptFile& operator=(const KWinScriptFile&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  KWinScriptFile(std::filesystem::path folder, bool madeForThisRun)
      : folder_(std::move(folder)), madeForThisRun_(madeForThisRun) {}

  std::filesystem::path folder_;
  bool madeForThisRun_;
  std::filesystem::path path_;
};

}  // namespace velmora::linuxos
