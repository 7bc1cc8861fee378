#include "platform/linux/kde/KWinScriptFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velmora::linuxos {
namespace {

// A folder of ours that no one else may enter; follow says whether the path
// may be a symbolic link (the runtime folder the session names may be).
bool privateFolder(const std::filesystem::path& path, bool follow) {
  struct stat st {};
  if ((follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

bool writeNew(const std::filesystem::path& path, std::string_view text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool ok = ::close(fd) == 0 && done == text.size();
  if (!ok) ::unlink(path.c_str());
  return ok;
}

}  // namespace

std::unique_ptr<KWinScriptFile> KWinScriptFile::write(const std::optional<std::string>& runtimeDir,
                                                      const std::filesystem::path& tempDir, std::string_view name,
                                                      std::string_view text, std::string* why) {
  std::unique_ptr<KWinScriptFile> file;
  if (runtimeDir && !runtimeDir->empty() && privateFolder(*runtimeDir, true)) {
    const std::filesystem::path folder = std::filesystem::path(*runtimeDir) / "velmora";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      *why = "Could not make the folder " + folder.string() + " for the KWin window script: " + std::strerror(errno);
      return nullptr;
    }
    if (!privateFolder(folder, false)) {
      *why = "Will not put the KWin window script in " + folder.string() + ": it is not a private folder of ours";
      return nullptr;
    }
    file.reset(new KWinScriptFile(folder, false));
  } else {
    std::string pattern = (tempDir / "velmora-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
      *why = "There is no private runtime folder for the KWin window script, and none could be made in " +
             tempDir.string();
      return nullptr;
    }
    file.reset(new KWinScriptFile(pattern, true));
  }
  const std::filesystem::path path = file->folder_ / name;
  // A copy left by an earlier run that died is ours: only we enter the folder.
  if (!writeNew(path, text) && !(errno == EEXIST && ::unlink(path.c_str()) == 0 && writeNew(path, text))) {
    *why = "Could not write the KWin window script to " + path.string();
    return nullptr;
  }
  file->path_ = path;
  return file;
}

KWinScriptFile::~KWinScriptFile() {
  if (!path_.empty()) ::unlink(path_.c_str());
  if (madeForThisRun_) ::rmdir(folder_.c_str());
}

}  // namespace velmora::linuxos
