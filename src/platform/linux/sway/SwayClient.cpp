#include "platform/linux/sway/SwayClient.h"

#include <sys/socket.h>

#include <cerrno>

#include "platform/linux/common/SessionLog.h"
#include "platform/linux/common/UnixSocket.h"
#include "platform/linux/sway/SwayIpc.h"

namespace velmora::linuxos {

namespace {

const Logger& swayLog() {
  return sessionLog(SessionLog::sway);
}

}  // namespace

SwayClient::SwayClient(std::optional<std::string> socketPath, std::chrono::milliseconds readRefresh)
    : socketPath_(std::move(socketPath)), readRefresh_(readRefresh) {
  if (!socketPath_ || socketPath_->empty()) {
    swayLog().info("sway: SWAYSOCK is not set; windows cannot be followed");
    return;
  }
  if (!worker_.start("sway", [this] { run(); })) {
    swayLog().info("sway: cannot start a thread to follow its windows");
    return;
  }
  // The first read should find the windows already there.
  waitForTree(0, std::chrono::seconds(1));
}

SwayClient::~SwayClient() {
  worker_.stop();
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

void SwayClient::markRead() {
  // The first read after a tree wakes the thread, so it times the refresh.
  if (!readSinceTree_.exchange(true)) worker_.nudge();
}

void SwayClient::outputsChanged() {
  outputsChanged_ = true;
  worker_.nudge();
}

std::optional<std::vector<WindowListEntry>> SwayClient::onScreenWindows() {
  markRead();
  std::lock_guard lock(mutex_);
  if (!windows_) return std::nullopt;
  return windows_->onScreen;
}

std::optional<std::vector<WindowListEntry>> SwayClient::onScreenWindowsOf(Pid owner) {
  markRead();
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

// Serves one connection until it breaks, hangs, or the owner stops.
void SwayClient::serve(int fd) {
  const std::string getTree = encodeSwayMessage(SwayRequest::getTree, "");
  auto send = [&](const std::string& bytes) {
    return sendAll(fd, bytes, WorkerThread::Clock::now() + kReplyTimeout, &worker_);
  };
  // Subscribed one by one: sway before 1.9 has no output event and refuses a
  // subscription that names it.
  if (!send(encodeSwayMessage(SwayRequest::subscribe, R"(["window","workspace","shutdown"])")) ||
      !send(encodeSwayMessage(SwayRequest::subscribe, R"(["output"])")) ||
      !send(encodeSwayMessage(SwayRequest::getVersion, "")) || !send(getTree))
    return;

  SwayFrameReader reader;
  bool treeAwaited = true;
  bool readAgain = false;
  auto lastTree = WorkerThread::Clock::now();
  char buffer[65536];
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    std::optional<WorkerThread::Clock::time_point> deadline;
    if (treeAwaited)
      deadline = WorkerThread::Clock::now() + kReplyTimeout;
    else if (readSinceTree_)
      deadline = lastTree + readRefresh_;
    const auto wake = worker_.wait({&ready, 1}, deadline);
    if (wake == WorkerThread::Wake::stop) return;
    if (wake == WorkerThread::Wake::timeout && treeAwaited) {
      swayLog().info("sway: no reply from the compositor; reconnecting");
      return;
    }
    if (wake == WorkerThread::Wake::ready) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) return;
      reader.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    while (auto frame = reader.next()) {
      if (frame->type & kSwayEventBit) {
        if (frame->type == kSwayShutdownEvent) return;
        readAgain = readAgain || swayEventMayMoveWindows(frame->type, frame->payload);
      } else if (frame->type == static_cast<std::uint32_t>(SwayRequest::getTree)) {
        treeAwaited = false;
        lastTree = WorkerThread::Clock::now();
        readSinceTree_ = false;
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
      return;
    }
    // One read of the tree answers any number of events that came together;
    // it is asked for once the previous answer is in, so its rectangles are
    // never older than the last event.
    if (outputsChanged_.exchange(false)) readAgain = true;
    if (readSinceTree_ && WorkerThread::Clock::now() - lastTree >= readRefresh_) readAgain = true;
    if (readAgain && !treeAwaited) {
      if (!send(getTree)) return;
      treeAwaited = true;
      readAgain = false;
    }
  }
}

void SwayClient::run() {
  bool told = false;
  worker_.keepConnecting(Backoff{}, [this, &told] {
    UniqueFd fd = connectUnixSocket(*socketPath_, WorkerThread::Clock::now() + kReplyTimeout, &worker_);
    if (fd) {
      {
        std::lock_guard lock(mutex_);
        connected_ = true;
      }
      if (told) swayLog().info("sway: connected again");
      told = false;
      serve(fd.get());
      {
        std::lock_guard lock(mutex_);
        connected_ = false;
        version_.reset();
      }
      store(nullptr, false);
      if (worker_.stopping()) return true;
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
    return static_cast<bool>(fd);
  });
}

}  // namespace velmora::linuxos
