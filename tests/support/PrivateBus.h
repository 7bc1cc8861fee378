#pragma once

// A private dbus-daemon for tests that need a session bus;
// DBUS_SESSION_BUS_ADDRESS points at it while it lives.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
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
    // The daemon prints its address on descriptor 3 once it listens.
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return;
    std::vector<std::string> args = {"/usr/bin/dbus-daemon",          "--session",        "--nofork", "--nopidfile",
                                     "--address=unix:path=" + socket, "--print-address=3"};
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    // Its notes (it cannot raise its file limit in a container) would only clutter the output.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(ready[1]);
    // Any line at all means it listens; end of file, that it failed.
    pollfd line{ready[0], POLLIN, 0};
    char byte = 0;
    if (pid_ > 0 && ::poll(&line, 1, 5000) == 1 && ::read(ready[0], &byte, 1) == 1) {
      setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socket).c_str(), 1);
      up_ = true;
    }
    ::close(ready[0]);
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
