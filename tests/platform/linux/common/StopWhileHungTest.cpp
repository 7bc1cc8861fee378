// Quitting never waits for a compositor that hangs: one that accepts no more
// connections (its listen queue full) or one that accepts and never answers.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "platform/linux/hyprland/HyprlandDesktop.h"
#include "platform/linux/kde/KdeOutputs.h"
#include "platform/linux/sway/SwayClient.h"
#include "platform/linux/wayland/WaylandOutputs.h"
#include "support/UnixListener.h"

namespace velmora::linuxos {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A listening socket that never reads. Full: its queue is filled by
// connections nobody accepts. Silent: it accepts and then says nothing.
class HungCompositor {
 public:
  HungCompositor(const fs::path& path, bool full) : path_(path) {
    listener_ = test::listenAt(path.string(), 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (full) {
      for (int i = 0; i < 64; ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
          ::close(fd);
          break;
        }
        held_.push_back(fd);
      }
      return;
    }
    accepter_ = std::thread([this] {
      for (;;) {
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        held_.push_back(fd);
      }
    });
  }
  ~HungCompositor() {
    ::shutdown(listener_, SHUT_RDWR);
    if (accepter_.joinable()) accepter_.join();
    ::close(listener_);
    for (int fd : held_)
      ::close(fd);
  }

 private:
  fs::path path_;
  int listener_ = -1;
  std::vector<int> held_;
  std::thread accepter_;
};

TEST(StopWhileHung, EveryBackEndQuitsPromptlyWhateverTheCompositorDoes) {
  const fs::path dir = fs::temp_directory_path() / ("velmora-hung-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string socket = (dir / "compositor").string();
  struct Case {
    const char* what;
    std::function<std::shared_ptr<void>()> start;
  };
  const std::vector<Case> cases = {
      {"Wayland outputs", [&] { return std::make_shared<WaylandOutputs>(nullptr, socket); }},
      {"KDE outputs", [&] { return std::make_shared<KdeOutputs>(nullptr, socket); }},
      {"sway", [&] { return std::make_shared<SwayClient>(socket); }},
      {"Hyprland",
       [&] {
         hyprland::DesktopOptions options;
         options.locate = [&] { return hyprland::SocketLocation{hyprland::SocketPaths{socket, socket}, ""}; };
         return std::make_shared<hyprland::HyprlandDesktop>(nullptr, std::move(options));
       }},
  };
  for (const bool full : {true, false}) {
    for (const Case& c : cases) {
      HungCompositor compositor(socket, full);
      auto backEnd = c.start();
      // A thread of its own: a back end that hangs must not hang the test too.
      auto stopped = std::async(std::launch::async, [backEnd = std::move(backEnd)]() mutable { backEnd.reset(); });
      const bool quit = stopped.wait_for(5s) == std::future_status::ready;
      EXPECT_TRUE(quit) << c.what << (full ? ", listen queue full" : ", silent");
      if (!quit) std::quick_exit(1);
      fs::remove(socket);
    }
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace velmora::linuxos
