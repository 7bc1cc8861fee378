#include "platform/linux/hyprland/HyprlandDesktop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/Log.h"
#include "platform/ThreadStart.h"

namespace velmora::linuxos::hyprland {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const Logger& log() {
  static const Logger logger(kVelmoraSubsystem, "Hyprland");
  return logger;
}

// Events come in bursts (a focus change is two lines, a workspace switch
// several); a short wait for the rest of a burst saves reading twice.
constexpr milliseconds kBurstWait{15};

}  // namespace

HyprlandDesktop::HyprlandDesktop(std::shared_ptr<ChangeCoalescer> changes, DesktopOptions options)
    : changes_(std::move(changes)), options_(std::move(options)) {
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) {
    problem_ = "cannot create an event descriptor";
    return;
  }
  thread_ = std::thread([this] {
    runThreadStartHook();
    run();
  });
  waitForReading(0, options_.startupWait);
}

HyprlandDesktop::~HyprlandDesktop() {
  stopping_ = true;
  if (wakeFd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  if (wakeFd_ >= 0) ::close(wakeFd_);
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

bool HyprlandDesktop::pause(milliseconds time) {
  const auto deadline = Clock::now() + time;
  while (!stopping_) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return true;
    pollfd p{wakeFd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) {
      // Never retry at full speed, even when waiting itself fails.
      std::this_thread::sleep_for(milliseconds(left));
      return !stopping_;
    }
  }
  return false;
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
  const auto clientsReply = request(paths.request, "j/clients");
  const auto monitorsReply = request(paths.request, "j/monitors");
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
  milliseconds retry = options_.firstRetry;
  while (!stopping_) {
    const SocketLocation location = options_.locate ? options_.locate() : SocketLocation{};
    std::string problem = location.problem.empty() ? "no sockets" : location.problem;
    if (location.paths) {
      const int fd = connectSocket(location.paths->events);
      if (fd < 0) {
        problem = "cannot connect to " + location.paths->events;
      } else if (!refresh(*location.paths)) {
        ::close(fd);
        problem = "no answer on " + location.paths->request;
      } else {
        retry = options_.firstRetry;
        problem = listen(fd, *location.paths);
        ::close(fd);
      }
    }
    if (stopping_) break;
    setDisconnected(problem);
    if (!pause(retry)) break;
    retry = std::min(retry * 2, options_.maxRetry);
  }
}

std::string HyprlandDesktop::listen(int eventFd, const SocketPaths& paths) {
  std::string buffer;
  bool skipping = false;
  bool dirty = false;
  char chunk[8192];
  while (!stopping_) {
    // A burst in progress gets a moment more; otherwise wait for the next
    // event, waking once per refresh period to follow drags.
    const int timeout = dirty ? static_cast<int>(kBurstWait.count()) : static_cast<int>(options_.readRefresh.count());
    pollfd fds[2] = {{eventFd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int n = ::poll(fds, 2, timeout);
    if (n < 0) {
      if (errno == EINTR) continue;
      return "cannot wait for events";
    }
    if (stopping_ || (fds[1].revents & POLLIN)) return "stopping";
    if (n == 0) {
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
  return "stopping";
}

}  // namespace velmora::linuxos::hyprland
