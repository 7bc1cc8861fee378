#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/linux/sway/SwayClient.h"
#include "platform/linux/sway/SwayIpc.h"
#include "support/UnixListener.h"

namespace velmora::linuxos {
namespace {

std::string treeWith(int pid, int x) {
  return R"({"type":"root","nodes":[{"type":"output","nodes":[{"type":"workspace","nodes":[{"type":"con","pid":)" +
         std::to_string(pid) + R"(,"visible":true,"focused":true,"nodes":[],"rect":{"x":)" + std::to_string(x) +
         R"(,"y":0,"width":100,"height":100}}]}]}]})";
}

// A stand-in for sway on a socket of its own: each accepted connection is
// handed to the script, which reads requests and writes what it likes.
class FakeSway {
 public:
  using Script = std::function<void(int fd, int connection)>;

  explicit FakeSway(Script script) : script_(std::move(script)) {
    dir_ = std::filesystem::temp_directory_path() /
           ("velmora-sway-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "ipc.sock").string();
    listener_ = test::listenAt(path_);
    thread_ = std::thread([this] {
      for (int connection = 0;; ++connection) {
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0 || stopping_) return;
        script_(fd, connection);
        ::close(fd);
      }
    });
  }
  ~FakeSway() {
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
    std::filesystem::remove_all(dir_);
  }

  const std::string& path() const { return path_; }

  // Reads requests until one of the given type has come; false when the
  // client went away.
  static bool awaitRequest(int fd, SwayFrameReader& reader, SwayRequest wanted) {
    char buffer[4096];
    for (;;) {
      while (auto frame = reader.next())
        if (frame->type == static_cast<std::uint32_t>(wanted)) return true;
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      reader.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
  }
  static void send(int fd, const std::string& bytes) { ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
  static void drain(int fd) {
    char buffer[4096];
    while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
  }

 private:
  static inline std::atomic<int> counter_{0};
  Script script_;
  std::filesystem::path dir_;
  std::string path_;
  int listener_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

constexpr auto kPatience = std::chrono::seconds(10);

TEST(SwayClient, KeepsASnapshotAndReadsTheTreeAgainAfterAMove) {
  FakeSway sway([](int fd, int) {
    SwayFrameReader reader;
    if (!FakeSway::awaitRequest(fd, reader, SwayRequest::getTree)) return;
    FakeSway::send(fd, encodeSwayMessage(SwayRequest::getTree, treeWith(42, 0)));
    // A title change is not worth a tree; a move is, and the tree then read
    // carries the new place.
    FakeSway::send(fd, encodeSwayMessage(kSwayWindowEvent, R"({"change":"title"})") +
                           encodeSwayMessage(kSwayWindowEvent, R"({"change":"move"})"));
    if (!FakeSway::awaitRequest(fd, reader, SwayRequest::getTree)) return;
    FakeSway::send(fd, encodeSwayMessage(SwayRequest::getTree, treeWith(42, 1920)));
    FakeSway::drain(fd);
  });
  SwayClient client(sway.path());
  std::uint64_t seen = client.waitForTree(0, kPatience);
  auto first = client.onScreenWindows();
  if (first && !first->empty() && toRect(first->front().bounds)->x == 0) seen = client.waitForTree(seen, kPatience);
  auto moved = client.onScreenWindows();
  ASSERT_TRUE(moved);
  ASSERT_EQ(moved->size(), 1u);
  EXPECT_EQ(toRect(moved->front().bounds), (Rect{1920, 0, 100, 100}));
  EXPECT_TRUE(client.connected());
  EXPECT_EQ(client.onScreenWindowsOf(42)->size(), 1u);
  EXPECT_TRUE(client.onScreenWindowsOf(43)->empty());
  EXPECT_EQ(client.windowOwners().count(42), 1u);
}

// sway sends no event for a drag with the pointer, nor for outputs before
// 1.9: the tree is read again while the list is being read, and when the
// outputs change.
TEST(SwayClient, ReadsTheTreeAgainWhileReadAndWhenTheOutputsChange) {
  struct Case {
    const char* what;
    std::chrono::milliseconds readRefresh;
    std::function<void(SwayClient&)> nudge;
  };
  const std::vector<Case> cases = {
      {"while read", std::chrono::milliseconds(20), [](SwayClient& c) { c.onScreenWindows(); }},
      {"outputs changed", std::chrono::hours(1), [](SwayClient& c) { c.outputsChanged(); }},
  };
  for (const Case& c : cases) {
    // No event at all: each tree asked for shows the window further right.
    FakeSway sway([](int fd, int) {
      SwayFrameReader reader;
      for (int x = 0; FakeSway::awaitRequest(fd, reader, SwayRequest::getTree); x += 1920)
        FakeSway::send(fd, encodeSwayMessage(SwayRequest::getTree, treeWith(42, x)));
    });
    SwayClient client(sway.path(), c.readRefresh);
    std::uint64_t seen = client.waitForTree(0, kPatience);
    c.nudge(client);
    seen = client.waitForTree(seen, kPatience);
    const auto windows = client.onScreenWindows();
    ASSERT_TRUE(windows && !windows->empty()) << c.what;
    EXPECT_GE(toRect(windows->front().bounds)->x, 1920) << c.what;
  }
}

TEST(SwayClient, ASocketThatBreaksMidReplyGivesNothingUntilSwayIsBack) {
  std::atomic<bool> garbageSent{false};
  FakeSway sway([&](int fd, int connection) {
    SwayFrameReader reader;
    if (!FakeSway::awaitRequest(fd, reader, SwayRequest::getTree)) return;
    const std::string reply = encodeSwayMessage(SwayRequest::getTree, treeWith(7, 0));
    if (connection == 0) {
      FakeSway::send(fd, reply.substr(0, reply.size() / 2));
      return;  // closed mid-reply
    }
    if (connection == 1) {
      // Nonsense gives nothing; the next event asks again.
      FakeSway::send(fd, encodeSwayMessage(SwayRequest::getTree, "this is not json"));
      garbageSent = true;
      FakeSway::send(fd, encodeSwayMessage(kSwayWindowEvent, R"({"change":"new"})"));
      if (!FakeSway::awaitRequest(fd, reader, SwayRequest::getTree)) return;
    }
    FakeSway::send(fd, reply);
    FakeSway::drain(fd);
  });
  SwayClient client(sway.path());
  // The half reply and the nonsense give nothing, never a half-read list.
  std::uint64_t seen = 0;
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  std::optional<std::vector<WindowListEntry>> windows;
  while (!windows && std::chrono::steady_clock::now() < deadline) {
    seen = client.waitForTree(seen, std::chrono::milliseconds(500));
    windows = client.onScreenWindows();
  }
  EXPECT_TRUE(garbageSent);
  ASSERT_TRUE(windows);
  EXPECT_EQ(toInt32(windows->front().ownerPID), 7);
}

TEST(SwayClient, WithoutASocketThereIsNothingAndNoThread) {
  SwayClient none(std::nullopt);
  EXPECT_FALSE(none.onScreenWindows());
  EXPECT_FALSE(none.connected());
  SwayClient nowhere("/nonexistent/velmora/sway.sock");
  EXPECT_FALSE(nowhere.onScreenWindows());
  EXPECT_TRUE(nowhere.windowOwners().empty());
}

}  // namespace
}  // namespace velmora::linuxos
