#pragma once

// A private dbus-daemon for tests that need a session bus;
// DBUS_SESSION_BUS_ADDRESS points at it while it lives. And a wait for what
// the bus's other clients do on their own threads.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace velmora::test {

// Polls condition every 20 ms for at most limit; its last answer.
inline bool waitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

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
    if (pid_ > 0 && waitFor([&] { return std::filesystem::exists(socket); }, std::chrono::seconds(5))) {
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
