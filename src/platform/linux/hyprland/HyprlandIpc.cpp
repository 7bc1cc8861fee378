#include "platform/linux/hyprland/HyprlandIpc.h"

#include <sys/socket.h>

#include <cerrno>

#include "platform/linux/common/UnixSocket.h"

namespace velmora::linuxos::hyprland {
namespace {

using Clock = std::chrono::steady_clock;

bool validSignature(const std::string& signature) {
  return !signature.empty() && signature.size() < 256 && signature != "." && signature != ".." &&
         signature.find('/') == std::string::npos && signature.find('\0') == std::string::npos;
}

}  // namespace

SocketLocation locateSockets(const std::optional<std::string>& signature, const std::optional<std::string>& runtimeDir,
                             const std::function<bool(const std::string& dir)>& dirExists) {
  SocketLocation location;
  if (!signature || signature->empty()) {
    location.problem = "HYPRLAND_INSTANCE_SIGNATURE is not set";
    return location;
  }
  if (!validSignature(*signature)) {
    location.problem = "HYPRLAND_INSTANCE_SIGNATURE is not a plain name";
    return location;
  }
  std::vector<std::string> dirs;
  if (runtimeDir && !runtimeDir->empty() && runtimeDir->front() == '/')
    dirs.push_back(*runtimeDir + "/hypr/" + *signature);
  dirs.push_back("/tmp/hypr/" + *signature);
  std::string chosen = dirs.front();
  for (const auto& dir : dirs) {
    if (dirExists(dir)) {
      chosen = dir;
      break;
    }
  }
  location.paths = SocketPaths{chosen + "/.socket.sock", chosen + "/.socket2.sock"};
  return location;
}

std::optional<std::string> request(const std::string& path, std::string_view command, WorkerThread* worker,
                                   std::chrono::milliseconds timeout, std::size_t limit) {
  const auto deadline = Clock::now() + timeout;
  UniqueFd fd = connectUnixSocket(path, deadline, worker);
  if (!fd || !sendAll(fd.get(), command, deadline, worker)) return std::nullopt;
  std::string reply;
  char chunk[16 * 1024];
  for (;;) {
    const ssize_t n = ::recv(fd.get(), chunk, sizeof chunk, 0);
    if (n > 0) {
      if (reply.size() + static_cast<std::size_t>(n) > limit) return std::nullopt;
      reply.append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0) {
      return reply;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!waitForSocket(fd.get(), POLLIN, deadline, worker)) return std::nullopt;
    } else if (errno != EINTR) {
      return std::nullopt;
    }
  }
}

std::vector<std::string> takeLines(std::string& buffer, bool& skipping, std::string_view chunk, std::size_t maxLine) {
  std::vector<std::string> lines;
  while (!chunk.empty()) {
    const auto eol = chunk.find('\n');
    const std::string_view piece = chunk.substr(0, eol);
    if (!skipping) {
      if (buffer.size() + piece.size() > maxLine) {
        buffer.clear();
        skipping = true;
      } else {
        buffer.append(piece);
      }
    }
    if (eol == std::string_view::npos) break;
    if (!skipping) lines.push_back(std::move(buffer));
    buffer.clear();
    skipping = false;
    chunk.remove_prefix(eol + 1);
  }
  return lines;
}

}  // namespace velmora::linuxos::hyprland
