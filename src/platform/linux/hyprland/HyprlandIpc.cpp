#include "platform/linux/hyprland/HyprlandIpc.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velmora::linuxos::hyprland {
namespace {

using Clock = std::chrono::steady_clock;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Waits for events on fd until the deadline; false on timeout or error.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(left));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

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

int connectSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path, path.data(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  // A local connect completes at once or fails; it never stays in progress.
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::optional<std::string> request(const std::string& path, std::string_view command, std::chrono::milliseconds timeout,
                                   std::size_t limit) {
  const auto deadline = Clock::now() + timeout;
  Fd fd(connectSocket(path));
  if (fd.get() < 0) return std::nullopt;
  while (!command.empty()) {
    const ssize_t n = ::send(fd.get(), command.data(), command.size(), MSG_NOSIGNAL);
    if (n > 0) {
      command.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitFor(fd.get(), POLLOUT, deadline)) return std::nullopt;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return std::nullopt;
    }
  }
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
      if (!waitFor(fd.get(), POLLIN, deadline)) return std::nullopt;
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
