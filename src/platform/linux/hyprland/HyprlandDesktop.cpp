#include "platform/linux/hyprland/HyprlandDesktop.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/linux/common/SessionLog.h"
#include "platform/linux/common/UnixSocket.h"

namespace velmora::linuxos::hyprland {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const Logger& log() {
  return sessionLog(SessionLog::hyprland);
}

// How long the event socket may take to accept us.
constexpr milliseconds kConnectLimit{2000};

// Events come in bursts (a focus change is two lines, a workspace switch
// several); a short wait for the rest of a burst saves reading twice.
constexpr milliseconds kBurstWait{15};

}  // namespace

HyprlandDesktop::HyprlandDesktop(std::shared_ptr<ChangeCoalescer> changes, DesktopOptions options)
    : changes_(std::move(changes)), options_(std::move(options)) {
  if (!worker_.start("hyprland", [this] { run(); })) {
    problem_ = "cannot start a thread to follow it";
    return;
  }
  waitForReading(0, options_.startupWait);
}

HyprlandDesktop::~HyprlandDesktop() {
  worker_.stop();
}

std::uint64_t HyprlandDesktop::waitForReading(std::uint64_t seen, milliseconds timeout) {
  std::unique_lock lock(mutex_);
  readingEnded_.wait_for(lock, timeout, [&] { return readings_ > seen; });
  return readings_;
}

std::vector<PlatformScreen> HyprlandDesktop::screens() {
  std::lock_guard lock(mutex_);
  return snapshot_ ? snapshot_->screens : std::vector<PlatformScreen>{};
}

void HyprlandDesktop::observeConfigurationChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) {
  if (changes_) changes_->observe(std::move(queue), std::move(handler));
}

std::optional<std::vector<WindowListEntry>> HyprlandDesktop::onScreenWindows() {
  readSinceRefresh_ = true;
  std::lock_guard lock(mutex_);
  if (!connected_ || !snapshot_) return std::nullopt;
  return snapshot_->windows;
}

WindowOwners HyprlandDesktop::windowOwners() const {
  std::lock_guard lock(mutex_);
  return snapshot_ && connected_ ? snapshot_->owners : WindowOwners{};
}

std::string HyprlandDesktop::describe() const {
  std::lock_guard lock(mutex_);
  return connected_ ? std::string("Hyprland") : "Hyprland (not connected: " + problem_ + ")";
}

void HyprlandDesktop::setDisconnected(const std::string& why) {
  bool wasConnected = false;
  bool retrying = false;
  {
    std::lock_guard lock(mutex_);
    wasConnected = connected_;
    retrying = !wasConnected && problem_ == why && readings_ > 0;
    connected_ = false;
    problem_ = why;
    ++readings_;
  }
  readingEnded_.notify_all();
  // Said once per loss, not once per retry.
  if (!retrying)
    log().info(wasConnected ? "lost Hyprland: %s; retrying" : "cannot reach Hyprland: %s; retrying", {why});
}

bool HyprlandDesktop::refresh(const SocketPaths& paths) {
  readSinceRefresh_ = false;
  lastRefresh_ = Clock::now();
  const auto clientsReply = request(paths.request, "j/clients", &worker_);
  const auto monitorsReply = request(paths.request, "j/monitors", &worker_);
  if (!clientsReply || !monitorsReply) return false;
  const auto clients = parseClients(*clientsReply);
  const auto monitors = parseMonitors(*monitorsReply);
  if (!clients || !monitors) {
    log().info("Hyprland sent a reply that is not the expected JSON; keeping the last snapshot");
    {
      std::lock_guard lock(mutex_);
      if (!connected_) problem_ = "its replies are not the expected JSON";
      ++readings_;
    }
    readingEnded_.notify_all();
    // The compositor is there; only this reading is unusable.
    return true;
  }
  auto snapshot = std::make_shared<Snapshot>();
  snapshot->windows = hyprland::onScreenWindows(*clients, *monitors);
  snapshot->owners = hyprland::windowOwners(*clients);
  snapshot->screens = hyprland::screens(*monitors, ids_);
  const bool screensChanged = snapshot->screens != reportedScreens_;
  if (screensChanged) reportedScreens_ = snapshot->screens;
  bool wasConnected = false;
  {
    std::lock_guard lock(mutex_);
    wasConnected = connected_;
    snapshot_ = std::move(snapshot);
    connected_ = true;
    ++readings_;
  }
  readingEnded_.notify_all();
  if (!wasConnected) log().info("connected to Hyprland at %s", {paths.events});
  if (screensChanged && changes_) changes_->trigger();
  return true;
}

void HyprlandDesktop::run() {
  worker_.keepConnecting(Backoff(options_.firstRetry, options_.maxRetry), [this] {
    const SocketLocation location = options_.locate ? options_.locate() : SocketLocation{};
    std::string problem = location.problem.empty() ? "no sockets" : location.problem;
    bool connected = false;
    if (location.paths) {
      const UniqueFd fd = connectUnixSocket(location.paths->events, Clock::now() + kConnectLimit, &worker_);
      if (!fd) {
        problem = "cannot connect to " + location.paths->events;
      } else if (!refresh(*location.paths)) {
        problem = "no answer on " + location.paths->request;
      } else {
        connected = true;
        problem = listen(fd.get(), *location.paths);
      }
    }
    if (!worker_.stopping()) setDisconnected(problem);
    return connected;
  });
}

std::string HyprlandDesktop::listen(int eventFd, const SocketPaths& paths) {
  std::string buffer;
  bool skipping = false;
  bool dirty = false;
  char chunk[8192];
  for (;;) {
    // A burst in progress gets a moment more; otherwise wait for the next
    // event, waking once per refresh period to follow drags.
    pollfd events{eventFd, POLLIN, 0};
    const auto wake = worker_.wait({&events, 1}, Clock::now() + (dirty ? kBurstWait : options_.readRefresh));
    if (wake == WorkerThread::Wake::stop) return "stopping";
    if (wake == WorkerThread::Wake::timeout) {
      const bool due = Clock::now() - lastRefresh_ >= options_.readRefresh;
      if (dirty || (readSinceRefresh_ && due)) {
        dirty = false;
        if (!refresh(paths)) return "no answer on " + paths.request;
      }
      continue;
    }
    const ssize_t got = ::read(eventFd, chunk, sizeof chunk);
    if (got == 0) return "the event socket closed";
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return "the event socket broke";
    }
    for (const auto& line : takeLines(buffer, skipping, std::string_view(chunk, static_cast<std::size_t>(got)))) {
      if (const auto event = parseEventLine(line); event && eventChangesDesktop(event->name)) dirty = true;
    }
  }
}

}  // namespace velmora::linuxos::hyprland
