#include "platform/linux/x11/X11Client.h"

#include <xcb/xcb.h>

#include "platform/linux/common/SessionLog.h"
#include "platform/linux/x11/X11Watch.h"

namespace velmora::linuxos {

namespace {

const Logger& x11Log() {
  return sessionLog(SessionLog::x11);
}

struct Disconnect {
  void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

}  // namespace

X11Client::X11Client(std::function<void()> onChange, std::optional<std::string> display)
    : onChange_(std::move(onChange)), display_(std::move(display)) {
  if (!worker_.start("x11", [this] { run(); })) {
    x11Log().info("X server: cannot start a thread to follow it");
    return;
  }
  std::unique_lock lock(mutex_);
  answered_.wait_for(lock, std::chrono::seconds(1), [this] { return firstAnswer_; });
}

X11Client::~X11Client() {
  worker_.stop();
}

void X11Client::run() {
  bool lost = false;
  worker_.keepConnecting(Backoff{}, [this, &lost] {
    const bool made = serveOnce(lost);
    {
      std::lock_guard lock(mutex_);
      firstAnswer_ = true;
    }
    answered_.notify_all();
    if (worker_.stopping()) return made;
    if (made) {
      x11Log().info("X server connection lost; reconnecting in the background");
      if (onChange_) onChange_();
    } else if (!lost) {
      x11Log().info("X server unavailable; retrying in the background");
    }
    lost = true;
    return made;
  });
}

// One connection until it breaks; true when it was made.
bool X11Client::serveOnce(bool afterLoss) {
  int screenNumber = 0;
  std::unique_ptr<xcb_connection_t, Disconnect> c(xcb_connect(display_ ? display_->c_str() : nullptr, &screenNumber));
  if (!c || xcb_connection_has_error(c.get())) return false;
  X11Watch watch(c.get(), screenNumber, worker_,
                 [this](std::shared_ptr<const X11Snapshot> snapshot, bool screensChanged) {
                   const bool first = !current();
                   publish(std::move(snapshot));
                   if ((first || screensChanged) && onChange_) onChange_();
                 });
  if (!watch.start()) {
    publish(nullptr);
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    firstAnswer_ = true;
  }
  answered_.notify_all();
  if (afterLoss) x11Log().info("X server connection restored");
  watch.serve();
  publish(nullptr);
  return true;
}

void X11Client::publish(std::shared_ptr<const X11Snapshot> snapshot) {
  std::lock_guard lock(mutex_);
  snapshot_ = std::move(snapshot);
}

std::shared_ptr<const X11Snapshot> X11Client::current() const {
  std::lock_guard lock(mutex_);
  return snapshot_;
}

bool X11Client::connected() const {
  return current() != nullptr;
}

std::vector<PlatformScreen> X11Client::screens() {
  const auto snapshot = current();
  return snapshot ? snapshot->screens : std::vector<PlatformScreen>{};
}

std::optional<std::vector<WindowListEntry>> X11Client::windows(std::optional<Pid> owner) {
  const auto snapshot = current();
  if (!snapshot) return std::nullopt;
  if (!owner) return snapshot->windows;
  std::vector<WindowListEntry> mine;
  for (const auto& entry : snapshot->windows)
    if (*owner >= 0 && toInt32(entry.ownerPID) == *owner) mine.push_back(entry);
  return mine;
}

std::optional<std::map<Pid, std::string>> X11Client::windowOwners() {
  const auto snapshot = current();
  if (!snapshot) return std::nullopt;
  return snapshot->owners;
}

}  // namespace velmora::linuxos
