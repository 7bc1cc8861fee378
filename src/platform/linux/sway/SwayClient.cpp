#include "platform/linux/sway/SwayClient.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Log.h"
#include "platform/ThreadStart.h"
#include "platform/linux/common/Backoff.h"
#include "platform/linux/sway/SwayIpc.h"

namespace velmora::linuxos {

namespace {

const Logger& swayLog() {
  static const Logger logger(kVelmoraSubsystem, "Session");
  return logger;
}

int connectTo(const std::string& path) {
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof address.sun_path) return -1;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  // A compositor that stops reading must not hold this thread for long.
  timeval timeout{static_cast<time_t>(SwayClient::kReplyTimeout.count()), 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  return fd;
}

bool sendAll(int fd, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

SwayClient::SwayClient(std::optional<std::string> socketPath) : socketPath_(std::move(socketPath)) {
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (!socketPath_ || socketPath_->empty()) {
    swayLog().info("sway: SWAYSOCK is not set; windows cannot be followed");
    return;
  }
  thread_ = std::thread([this] {
    runThreadStartHook();
    run();
  });
  // The first read should find the windows already there.
  waitForTree(0, std::chrono::seconds(1));
}

SwayClient::~SwayClient() {
  const std::uint64_t one = 1;
  [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
  if (thread_.joinable()) thread_.join();
  ::close(wakeFd_);
}

void SwayClient::store(std::shared_ptr<const SwayWindows> windows, bool countsAsTree) {
  std::lock_guard lock(mutex_);
  windows_ = std::move(windows);
  if (countsAsTree) ++trees_;
  treeRead_.notify_all();
}

std::uint64_t SwayClient::waitForTree(std::uint64_t seen, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  treeRead_.wait_for(lock, timeout, [&] { return trees_ > seen; });
  return trees_;
}

std::optional<std::vector<WindowListEntry>> SwayClient::onScreenWindows() {
  std::lock_guard lock(mutex_);
  if (!windows_) return std::nullopt;
  return windows_->onScreen;
}

std::optional<std::vector<WindowListEntry>> SwayClient::onScreenWindowsOf(Pid owner) {
  std::shared_ptr<const SwayWindows> windows;
  {
    std::lock_guard lock(mutex_);
    windows = windows_;
  }
  if (!windows) return std::nullopt;
  std::vector<WindowListEntry> mine;
  for (const auto& entry : windows->onScreen)
    if (toInt32(entry.ownerPID) == owner) mine.push_back(entry);
  return mine;
}

WindowOwners SwayClient::windowOwners() {
  std::lock_guard lock(mutex_);
  return windows_ ? windows_->owners : WindowOwners{};
}

std::optional<std::string> SwayClient::version() {
  std::lock_guard lock(mutex_);
  return version_;
}

bool SwayClient::connected() {
  std::lock_guard lock(mutex_);
  return connected_;
}

// Serves one connection until it breaks, hangs, or the owner stops; true
// when stopped.
bool SwayClient::serve(int fd) {
  const std::string getTree = encodeSwayMessage(SwayRequest::getTree, "");
  // Subscribed one by one: sway before 1.9 has no output event and refuses a
  // subscription that names it.
  if (!sendAll(fd, encodeSwayMessage(SwayRequest::subscribe, R"(["window","workspace","shutdown"])")) ||
      !sendAll(fd, encodeSwayMessage(SwayRequest::subscribe, R"(["output"])")) ||
      !sendAll(fd, encodeSwayMessage(SwayRequest::getVersion, "")) || !sendAll(fd, getTree))
    return false;

  SwayFrameReader reader;
  bool treeAwaited = true;
  bool readAgain = false;
  char buffer[65536];
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int timeout = treeAwaited ? static_cast<int>(std::chrono::milliseconds(kReplyTimeout).count()) : -1;
    const int ready = ::poll(fds, 2, timeout);
    if (ready < 0 && errno == EINTR) continue;
    if (fds[1].revents) return true;
    if (ready <= 0) {
      swayLog().info("sway: no reply from the compositor; reconnecting");
      return false;
    }
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    reader.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    while (auto frame = reader.next()) {
      if (frame->type & kSwayEventBit) {
        if (frame->type == kSwayShutdownEvent) return false;
        readAgain = readAgain || swayEventMayMoveWindows(frame->type, frame->payload);
      } else if (frame->type == static_cast<std::uint32_t>(SwayRequest::getTree)) {
        treeAwaited = false;
        auto windows = swayWindowsFromTree(frame->payload);
        store(windows ? std::make_shared<const SwayWindows>(std::move(*windows)) : nullptr, true);
      } else if (frame->type == static_cast<std::uint32_t>(SwayRequest::getVersion)) {
        auto v = swayVersion(frame->payload);
        std::lock_guard lock(mutex_);
        version_ = v;
      }
    }
    if (reader.broken()) {
      swayLog().info("sway: the compositor sent something that is not an IPC message; reconnecting");
      return false;
    }
    // One read of the tree answers any number of events that came together;
    // it is asked for once the previous answer is in, so its rectangles are
    // never older than the last event.
    if (readAgain && !treeAwaited) {
      if (!sendAll(fd, getTree)) return false;
      treeAwaited = true;
      readAgain = false;
    }
  }
}

void SwayClient::run() {
  Backoff backoff;
  bool told = false;
  for (;;) {
    const int fd = connectTo(*socketPath_);
    if (fd >= 0) {
      {
        std::lock_guard lock(mutex_);
        connected_ = true;
      }
      if (told) swayLog().info("sway: connected again");
      told = false;
      backoff.reset();
      const bool stopped = serve(fd);
      ::close(fd);
      {
        std::lock_guard lock(mutex_);
        connected_ = false;
        version_.reset();
      }
      store(nullptr, false);
      if (stopped) return;
    }
    if (!told) {
      swayLog().info("sway: cannot reach the compositor at %s; retrying", {*socketPath_});
      told = true;
    }
    // Wake whoever waits for a first tree: there is none to wait for.
    {
      std::lock_guard lock(mutex_);
      ++trees_;
      treeRead_.notify_all();
    }
    pollfd wake{wakeFd_, POLLIN, 0};
    if (::poll(&wake, 1, static_cast<int>(backoff.next().count())) > 0) return;
  }
}

}  // namespace velmora::linuxos
