#pragma once

// A private dbus-daemon for tests that need a session bus;
// DBUS_SESSION_BUS_ADDRESS points at it while it lives.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace velmora::test {

class PrivateBus {
 public:
  static bool available() { return ::access("/usr/bin/dbus-daemon", X_OK) == 0; }

  PrivateBus() {
    char pattern[] = "/tmp/velmora-bus-XXXXXX";
    if (!mkdtemp(pattern)) return;
    dir_ = pattern;
    const std::string socket = (dir_ / "bus").string();
    std::vector<std::string> args = {"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                                     "--address=unix:path=" + socket};
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    // Its notes (it cannot raise its file limit in a container) would only clutter the output.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    // The daemon makes its socket as it starts.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (pid_ > 0 && !std::filesystem::exists(socket) && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (pid_ > 0 && std::filesystem::exists(socket)) {
      setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socket).c_str(), 1);
      up_ = true;
    }
  }
  ~PrivateBus() {
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  bool up() const { return up_; }
  std::filesystem::path dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
  pid_t pid_ = -1;
  bool up_ = false;
};

}  // namespace velmora::test
