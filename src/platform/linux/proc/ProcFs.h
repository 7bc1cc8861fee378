#pragma once

// Reads what Velmora needs of a process from a /proc tree. The root is a
// parameter so tests can lay out a fake tree.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/KeyFile.h"
#include "platform/Types.h"

namespace velmora::linuxos {

struct ProcStat {
  std::string command;  // the comm field, between the first '(' and the last ')'
  Pid parent = 0;
  // Clock ticks after boot; with the pid it names one process for its life.
  std::optional<std::uint64_t> startTime;
};

// Parses the text of /proc/PID/stat. The command may hold spaces and
// parentheses, so the fields after it are found from the last ')'.
std::optional<ProcStat> parseProcStat(std::string_view text);

using velmora::keyFileValue;

// The "name=" of the [Application] group of a .flatpak-info file.
std::optional<std::string> parseFlatpakAppId(std::string_view text);

// The Snap name from /proc/PID/cgroup text: a unit "snap.NAME.…".
std::optional<std::string> parseSnapName(std::string_view text);

// The pid a process has in its own, innermost pid namespace: the last number
// of the NSpid line of /proc/PID/status text.
std::optional<Pid> parseInnermostPid(std::string_view text);

class ProcFs {
 public:
  explicit ProcFs(std::filesystem::path root = "/proc");

  std::optional<ProcStat> stat(Pid pid) const;
  // Basename of the executable, else the command name; none when the process is gone.
  std::optional<std::string> executableName(Pid pid) const;
  std::optional<std::string> flatpakAppId(Pid pid) const;
  std::optional<std::string> snapName(Pid pid) const;
  std::optional<Pid> innermostPid(Pid pid) const;
  // Every numeric entry of the root, ascending.
  std::vector<Pid> pids() const;

 private:
  std::filesystem::path dir(Pid pid) const;

  std::filesystem::path root_;
};

// A small file read whole, capped so a hostile or huge file cannot exhaust memory.
std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t limit = 64 * 1024);

}  // namespace velmora::linuxos
