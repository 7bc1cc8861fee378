#include "app/services/AutostartEntry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "platform/KeyFile.h"

namespace velmora::app {

namespace {

constexpr const char* kEntryName = "co.quennet.velmora.desktop";

std::string reason(int err) {
  return std::error_code(err, std::generic_category()).message();
}

LoginItemResult failure(const std::string& path, int err) {
  return {false, path + ": " + reason(err)};
}

struct EntryKeys {
  std::optional<std::string> exec;
  bool hidden = false;
  bool autostartDisabled = false;
};

// The keys of the [Desktop Entry] group that decide whether the entry starts
// us; none when the file cannot be read.
std::optional<EntryKeys> readEntry(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  // An entry is a few hundred bytes; a huge file is read no further.
  constexpr std::size_t kLimit = 64 * 1024;
  std::string text(kLimit, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  EntryKeys keys;
  keys.exec = keyFileValue(text, "Desktop Entry", "Exec");
  keys.hidden = keyFileValue(text, "Desktop Entry", "Hidden") == "true";
  keys.autostartDisabled = keyFileValue(text, "Desktop Entry", "X-GNOME-Autostart-enabled") == "false";
  return keys;
}

bool samePath(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

// mkdir -p, reporting the first component that could not be made.
LoginItemResult makeDirectories(const std::string& dir) {
  std::string partial;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    partial = dir.substr(0, pos);
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return failure(partial, errno);
  }
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return failure(dir, errno);
  if (!S_ISDIR(st.st_mode)) return failure(dir, ENOTDIR);
  return {};
}

std::string entryText(const std::string& exec) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Velmora\n"
         "Comment=Routes audio to the speakers of the display with the active video\n"
         "Exec=" +
         exec +
         "\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

}  // namespace

AutostartEntry::AutostartEntry(std::string configHome, std::optional<std::string> executable)
    : configHome_(std::move(configHome)), executable_(std::move(executable)) {}

AutostartEntry AutostartEntry::forCurrentUser() {
  std::string configHome;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  // Relative values are invalid by the base-directory rules and are ignored.
  if (xdg && xdg[0] == '/') {
    configHome = xdg;
  } else {
    const char* home = std::getenv("HOME");
    configHome = std::string(home ? home : "") + "/.config";
  }

  std::optional<std::string> exe;
  // An AppImage runs from a temporary mount; the image file is what to start.
  if (const char* appImage = std::getenv("APPIMAGE"); appImage && appImage[0] == '/') {
    exe = appImage;
  } else {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && std::filesystem::exists(path, ec)) exe = path.string();
  }
  return AutostartEntry(std::move(configHome), std::move(exe));
}

std::string AutostartEntry::directory() const {
  return configHome_ + "/autostart";
}

std::string AutostartEntry::entryPath() const {
  return directory() + "/" + kEntryName;
}

std::optional<std::string> AutostartEntry::execValue(const std::string& program) {
  std::string quoted = "\"";
  for (char c : program) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::nullopt;
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  quoted += '"';
  // The value is also a string value, whose own escape character is '\'.
  std::string out;
  for (char c : quoted) {
    if (c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::optional<std::string> AutostartEntry::programOfExec(const std::string& v) {
  std::string arg;
  std::size_t i = 0;
  if (!v.empty() && v[0] == '"') {
    for (i = 1; i < v.size() && v[i] != '"'; ++i) {
      if (v[i] == '\\' && i + 1 < v.size()) ++i;
      arg += v[i];
    }
    if (i >= v.size()) return std::nullopt;  // unterminated quote
  } else {
    for (; i < v.size() && v[i] != ' ' && v[i] != '\t'; ++i)
      arg += v[i];
  }
  std::string out;
  for (std::size_t k = 0; k < arg.size(); ++k) {
    out += arg[k];
    if (arg[k] == '%' && k + 1 < arg.size() && arg[k + 1] == '%') ++k;
  }
  if (out.empty()) return std::nullopt;
  return out;
}

LoginItemStatus AutostartEntry::status() const {
  if (!executable_) return LoginItemStatus::notFound;
  const auto keys = readEntry(entryPath());
  if (!keys) return LoginItemStatus::notRegistered;
  const auto program = keys->exec ? programOfExec(*keys->exec) : std::nullopt;
  if (!program || !samePath(*program, *executable_)) return LoginItemStatus::notRegistered;
  if (keys->hidden || keys->autostartDisabled) return LoginItemStatus::disabled;
  return LoginItemStatus::enabled;
}

LoginItemResult AutostartEntry::registerEntry() const {
  if (!executable_) return {false, "/proc/self/exe: the running executable cannot be located"};
  const auto exec = execValue(*executable_);
  if (!exec) return {false, *executable_ + ": the path contains control characters"};
  if (auto made = makeDirectories(directory()); !made.ok) return made;

  // Written beside the entry and renamed over it, so a reader never sees half a file.
  std::random_device rd;
  const std::string tmp = entryPath() + ".tmp-" + std::to_string(rd());
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return failure(tmp, errno);
  const std::string text = entryText(*exec);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      ::close(fd);
      ::unlink(tmp.c_str());
      return failure(tmp, err);
    }
    done += static_cast<std::size_t>(n);
  }
  int err = ::fsync(fd) != 0 ? errno : 0;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0) {
    ::unlink(tmp.c_str());
    return failure(tmp, err);
  }
  if (::rename(tmp.c_str(), entryPath().c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    return failure(entryPath(), err);
  }
  return {};
}

LoginItemResult AutostartEntry::unregisterEntry() const {
  if (::unlink(entryPath().c_str()) != 0 && errno != ENOENT) return failure(entryPath(), errno);
  return {};
}

}  // namespace velmora::app
