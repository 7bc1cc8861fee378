#include "platform/linux/common/UnixSocket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace velmora::linuxos {
namespace {

using Clock = WorkerThread::Clock;

// How often a connect to a full listen queue is tried again: a unix socket
// gives no readiness to wait for until the compositor accepts.
constexpr std::chrono::milliseconds kQueueFullRetry{50};

// A nudge is for the worker's own loop, which keeps what it asked for; the
// wait here goes on.
WorkerThread::Wake waitIgnoringNudges(WorkerThread& worker, std::span<pollfd> fds, Clock::time_point until) {
  for (;;) {
    const auto wake = worker.wait(fds, until);
    if (wake != WorkerThread::Wake::nudged) return wake;
  }
}

bool pause(Clock::time_point deadline, WorkerThread* worker) {
  const auto until = std::min(deadline, Clock::now() + kQueueFullRetry);
  if (worker) return waitIgnoringNudges(*worker, {}, until) == WorkerThread::Wake::timeout && Clock::now() < deadline;
  std::this_thread::sleep_until(until);
  return Clock::now() < deadline;
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

int UniqueFd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

bool waitForSocket(int fd, short events, Clock::time_point deadline, WorkerThread* worker) {
  pollfd p{fd, events, 0};
  if (worker) return waitIgnoringNudges(*worker, {&p, 1}, deadline) == WorkerThread::Wake::ready;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    const int n = ::poll(&p, 1, static_cast<int>(left));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

UniqueFd connectUnixSocket(const std::string& path, Clock::time_point deadline, WorkerThread* worker) {
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof address.sun_path) return {};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) return {};
  for (;;) {
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
    if (errno == EINTR) continue;
    // Linux refuses at once while the listen queue is full; other systems
    // leave the connect in progress.
    if (errno == EAGAIN) {
      if (!pause(deadline, worker)) return {};
      continue;
    }
    if (errno != EINPROGRESS) return {};
    int error = 0;
    socklen_t length = sizeof error;
    if (!waitForSocket(fd.get(), POLLOUT, deadline, worker) ||
        ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
      return {};
    return fd;
  }
}

bool sendAll(int fd, std::string_view bytes, Clock::time_point deadline, WorkerThread* worker) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitForSocket(fd, POLLOUT, deadline, worker)) return false;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace velmora::linuxos
