#include "platform/linux/hyprland/HyprlandDesktop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>

#include "support/UnixListener.h"

namespace velmora::linuxos::hyprland {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A compositor's two sockets served from a thread: requests get the replies
// set here; events are written to whoever listens.
class FakeHyprland {
 public:
  FakeHyprland() {
    std::random_device rd;
    dir_ = fs::temp_directory_path() / ("velmora-hypr-" + std::to_string(rd()));
    fs::create_directories(dir_);
    requestFd_ = test::listenAt(paths().request);
    eventFd_ = test::listenAt(paths().events);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { serve(); });
  }
  ~FakeHyprland() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(stopFd_, &one, sizeof one);
    thread_.join();
    for (int fd : {requestFd_, eventFd_, stopFd_, listener_})
      if (fd >= 0) ::close(fd);
    fs::remove_all(dir_);
  }

  SocketPaths paths() const { return {(dir_ / ".socket.sock").string(), (dir_ / ".socket2.sock").string()}; }

  void reply(const std::string& command, std::string text) {
    std::lock_guard lock(mutex_);
    replies_[command] = std::move(text);
  }
  // Writes to the current listener; false when there is none.
  bool send(const std::string& line) {
    std::lock_guard lock(mutex_);
    return listener_ >= 0 && ::send(listener_, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size());
  }
  void dropListener() {
    std::lock_guard lock(mutex_);
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
  }
  int requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void serve() {
    for (;;) {
      pollfd fds[3] = {{requestFd_, POLLIN, 0}, {eventFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
      if (::poll(fds, 3, -1) < 0 || (fds[2].revents & POLLIN)) return;
      if (fds[1].revents & POLLIN) {
        const int fd = ::accept4(eventFd_, nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard lock(mutex_);
        if (listener_ >= 0) ::close(listener_);
        listener_ = fd;
      }
      if (fds[0].revents & POLLIN) answer(::accept4(requestFd_, nullptr, nullptr, SOCK_CLOEXEC));
    }
  }

  void answer(int fd) {
    char command[256];
    const ssize_t n = ::recv(fd, command, sizeof command, 0);
    std::string text;
    {
      std::lock_guard lock(mutex_);
      ++requests_;
      auto it = replies_.find(std::string(command, n > 0 ? std::size_t(n) : 0));
      text = it == replies_.end() ? "unknown request" : it->second;
    }
    [[maybe_unused]] auto sent = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    ::close(fd);
  }

  fs::path dir_;
  int requestFd_ = -1;
  int eventFd_ = -1;
  int stopFd_ = -1;
  std::mutex mutex_;
  int listener_ = -1;
  int requests_ = 0;
  std::map<std::string, std::string> replies_;
  std::thread thread_;
};

constexpr auto kPatience = 10s;

// Waits, woken by each reading of the desktop's thread, until done holds.
template <typename Predicate>
bool eventually(HyprlandDesktop& desktop, Predicate done) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  for (std::uint64_t seen = desktop.waitForReading(0, 0ms);;) {
    if (done()) return true;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left <= 0ms) return false;
    seen = desktop.waitForReading(seen, left);
  }
}

std::string clientAt(int pid, int x) {
  return R"([{"mapped": true, "hidden": false, "workspace": {"id": 1}, "focusHistoryID": 0, "class": "mpv",
      "size": [100, 100], "pid": )" +
         std::to_string(pid) + R"(, "at": [)" + std::to_string(x) + ", 0]}]";
}

constexpr const char* kOneMonitor =
    R"([{"name": "DP-1", "model": "U2720Q", "x": 0, "y": 0, "width": 1920, "height": 1080, "scale": 1,
        "activeWorkspace": {"id": 1}}])";

std::optional<Pid> firstPid(HyprlandDesktop& desktop) {
  auto windows = desktop.onScreenWindows();
  if (!windows || windows->empty()) return std::nullopt;
  return toInt32(windows->front().ownerPID);
}

// The fake's sockets, found at once; startup waits for the first snapshot.
DesktopOptions at(const SocketPaths& paths, std::chrono::milliseconds readRefresh = std::chrono::hours(1)) {
  DesktopOptions options;
  options.locate = [paths] { return SocketLocation{paths, ""}; };
  options.firstRetry = 5ms;
  options.readRefresh = readRefresh;
  options.startupWait = 10s;
  return options;
}

TEST(HyprlandDesktop, FollowsEventsAndComesBackAfterTheCompositorGoes) {
  FakeHyprland fake;
  fake.reply("j/clients", clientAt(42, 0));
  fake.reply("j/monitors", kOneMonitor);
  HyprlandDesktop desktop(nullptr, at(fake.paths()));

  // The first snapshot is there once the constructor returns.
  EXPECT_EQ(firstPid(desktop), 42);
  ASSERT_EQ(desktop.screens().size(), 1u);
  EXPECT_EQ(desktop.screens()[0].localizedName, "U2720Q");
  EXPECT_EQ(desktop.describe(), "Hyprland");
  EXPECT_EQ(desktop.windowOwners().at(42), "mpv");

  // Lines that do not matter cause no reading; one that does, one reading.
  const int before = fake.requests();
  ASSERT_TRUE(fake.send("windowtitlev2>>1,title\nactivelayout>>kbd,us\n"));
  fake.reply("j/clients", clientAt(43, 0));
  ASSERT_TRUE(fake.send("openwindow>>1,1,mpv,title\n"));
  EXPECT_TRUE(eventually(desktop, [&] { return firstPid(desktop) == 43; }));
  EXPECT_EQ(fake.requests(), before + 2);

  // A reply that is not JSON leaves the last snapshot in place.
  fake.reply("j/clients", "garbage");
  const int beforeGarbage = fake.requests();
  const std::uint64_t seen = desktop.waitForReading(0, 0ms);
  ASSERT_TRUE(fake.send("closewindow>>1\n"));
  EXPECT_GT(desktop.waitForReading(seen, kPatience), seen);
  EXPECT_EQ(fake.requests(), beforeGarbage + 2);
  EXPECT_EQ(firstPid(desktop), 43);

  // The compositor goes away and comes back: only a new connection can
  // bring the new window, as no event announces it.
  fake.reply("j/clients", clientAt(44, 0));
  fake.dropListener();
  EXPECT_TRUE(eventually(desktop, [&] { return firstPid(desktop) == 44; }));
}

TEST(HyprlandDesktop, ReadingTheSnapshotKeepsItFreshWithoutEvents) {
  FakeHyprland fake;
  fake.reply("j/clients", clientAt(42, 0));
  fake.reply("j/monitors", kOneMonitor);
  HyprlandDesktop desktop(nullptr, at(fake.paths(), 20ms));
  ASSERT_EQ(firstPid(desktop), 42);

  // A floating window dragged elsewhere sends no event.
  fake.reply("j/clients", clientAt(42, 900));
  EXPECT_TRUE(eventually(desktop, [&] {
    auto windows = desktop.onScreenWindows();
    return windows && toRect(windows->front().bounds) == Rect{900, 0, 100, 100};
  }));
}

TEST(HyprlandDesktop, NoCompositorMeansNoWindowsAndAPlainReason) {
  auto options = at({"/nonexistent/.socket.sock", "/nonexistent/.socket2.sock"});
  options.firstRetry = 1ms;
  options.maxRetry = 2ms;
  HyprlandDesktop desktop(nullptr, options);
  EXPECT_FALSE(desktop.onScreenWindows());
  EXPECT_TRUE(desktop.screens().empty());
  EXPECT_EQ(desktop.describe(), "Hyprland (not connected: cannot connect to /nonexistent/.socket2.sock)");
  // Destroying it while it retries returns promptly (the test would hang otherwise).
}

}  // namespace
}  // namespace velmora::linuxos::hyprland
