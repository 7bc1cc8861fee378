#include "platform/linux/proc/ProcFs.h"

#include "platform/KeyFile.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <system_error>

namespace velmora::linuxos {

namespace {

std::optional<Pid> parsePid(std::string_view s) {
  std::int64_t value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  if (value < 0 || value > std::numeric_limits<Pid>::max()) return std::nullopt;
  return static_cast<Pid>(value);
}

}  // namespace

std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  // Most files read here are far below the cap, so the buffer grows as needed.
  std::string text;
  char chunk[4096];
  while (text.size() < limit) {
    in.read(chunk, static_cast<std::streamsize>(std::min(sizeof chunk, limit - text.size())));
    if (in.bad()) return std::nullopt;
    text.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (!in) break;
  }
  return text;
}

std::optional<ProcStat> parseProcStat(std::string_view text) {
  const auto open = text.find('(');
  const auto close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;
  std::string_view rest = text.substr(close + 1);
  // " S PPID ..." : state, then the parent pid.
  rest = trimBlanks(rest);
  const auto stateEnd = rest.find(' ');
  if (stateEnd == std::string_view::npos) return std::nullopt;
  rest.remove_prefix(stateEnd + 1);
  const auto ppidEnd = rest.find(' ');
  const std::optional<Pid> parent = parsePid(rest.substr(0, ppidEnd));
  if (!parent) return std::nullopt;
  ProcStat stat{std::string(text.substr(open + 1, close - open - 1)), *parent, std::nullopt};
  // The start time is the 22nd field, the 18th after the parent pid.
  for (int field = 0; field < 18; ++field) {
    const auto gap = rest.find(' ');
    if (gap == std::string_view::npos) return stat;
    rest.remove_prefix(gap + 1);
  }
  std::uint64_t start = 0;
  const std::string_view token = trimBlanks(rest.substr(0, rest.find_first_of(" \n")));
  auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), start);
  if (ec == std::errc() && end == token.data() + token.size() && !token.empty()) stat.startTime = start;
  return stat;
}

std::optional<std::string> parseFlatpakAppId(std::string_view text) {
  return keyFileValue(text, "Application", "name");
}

std::optional<std::string> parseSnapName(std::string_view text) {
  // Snap applications run in units named "snap.NAME.APP-….scope" (or .service).
  std::size_t pos = 0;
  while ((pos = text.find("snap.", pos)) != std::string_view::npos) {
    if (pos == 0 || text[pos - 1] == '/') {
      const std::string_view rest = text.substr(pos + 5);
      const auto dot = rest.find('.');
      const auto slash = rest.find_first_of("/\n");
      if (dot != std::string_view::npos && dot > 0 && (slash == std::string_view::npos || dot < slash)) {
        return std::string(rest.substr(0, dot));
      }
    }
    pos += 5;
  }
  return std::nullopt;
}

std::optional<Pid> parseInnermostPid(std::string_view text) {
  constexpr std::string_view key = "NSpid:";
  for (std::size_t pos = 0; pos < text.size();) {
    const auto eol = text.find('\n', pos);
    std::string_view line = text.substr(pos, eol == std::string_view::npos ? std::string_view::npos : eol - pos);
    pos = eol == std::string_view::npos ? text.size() : eol + 1;
    if (!line.starts_with(key)) continue;
    line = trimBlanks(line.substr(key.size()));
    const auto gap = line.find_last_of(" \t");
    const auto pid = parsePid(gap == std::string_view::npos ? line : line.substr(gap + 1));
    if (!pid || *pid == 0) return std::nullopt;
    return pid;
  }
  return std::nullopt;
}

ProcFs::ProcFs(std::filesystem::path root) : root_(std::move(root)) {}

std::filesystem::path ProcFs::dir(Pid pid) const {
  return root_ / std::to_string(pid);
}

std::optional<ProcStat> ProcFs::stat(Pid pid) const {
  if (pid <= 0) return std::nullopt;
  const auto text = readSmallFile(dir(pid) / "stat", 4096);
  if (!text) return std::nullopt;
  return parseProcStat(*text);
}

std::optional<std::string> ProcFs::executableName(Pid pid) const {
  if (pid <= 0) return std::nullopt;
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink(dir(pid) / "exe", ec);
  if (!ec) {
    std::string name = exe.filename().string();
    constexpr std::string_view deleted = " (deleted)";
    if (name.size() > deleted.size() && name.ends_with(deleted)) name.resize(name.size() - deleted.size());
    if (!name.empty()) return name;
  }
  // Another user's process hides its exe link; comm is still readable.
  if (const auto comm = readSmallFile(dir(pid) / "comm", 256)) {
    const std::string_view name = trimBlanks(std::string_view(*comm).substr(0, comm->find('\n')));
    if (!name.empty()) return std::string(name);
  }
  return std::nullopt;
}

std::optional<std::string> ProcFs::flatpakAppId(Pid pid) const {
  if (pid <= 0) return std::nullopt;
  const auto text = readSmallFile(dir(pid) / "root" / ".flatpak-info");
  if (!text) return std::nullopt;
  return parseFlatpakAppId(*text);
}

std::optional<std::string> ProcFs::snapName(Pid pid) const {
  if (pid <= 0) return std::nullopt;
  const auto text = readSmallFile(dir(pid) / "cgroup");
  if (!text) return std::nullopt;
  return parseSnapName(*text);
}

std::optional<Pid> ProcFs::innermostPid(Pid pid) const {
  if (pid <= 0) return std::nullopt;
  const auto text = readSmallFile(dir(pid) / "status", 16 * 1024);
  if (!text) return std::nullopt;
  return parseInnermostPid(*text);
}

std::vector<Pid> ProcFs::pids() const {
  std::vector<Pid> result;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec)) {
    if (const auto pid = parsePid(it->path().filename().string()); pid && *pid > 0) result.push_back(*pid);
  }
  std::sort(result.begin(), result.end());
  return result;
}

}  // namespace velmora::linuxos
