#pragma once

// A fake /proc tree (and a data folder for desktop entries) in a temporary
// folder, for tests of what is read from /proc.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "platform/Types.h"

namespace velmora::linuxos {

class FakeProcTree : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    root_ = std::filesystem::temp_directory_path() / ("velmora-proc-" + std::to_string(rd()));
    std::filesystem::create_directories(root_ / "proc");
    std::filesystem::create_directories(root_ / "share/applications");
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  void write(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }

  // A process with the given parent; exe names the executable through a link.
  void process(Pid pid, Pid parent, const std::string& exe, const std::string& comm = "", int startTime = 5000) {
    const std::filesystem::path dir = root_ / "proc" / std::to_string(pid);
    write(dir / "stat", std::to_string(pid) + " (" + (comm.empty() ? exe : comm) + ") S " + std::to_string(parent) +
                            " 1 1 0 -1 4194560 100 0 0 0 3 1 0 0 20 0 1 0 " + std::to_string(startTime) +
                            " 1000 100\n");
    std::filesystem::remove(dir / "exe");
    if (!exe.empty()) std::filesystem::create_symlink("/usr/lib/somewhere/" + exe, dir / "exe");
  }

  // A process of a Flatpak instance: its root shows the instance's info, its
  // status the pid it has inside the sandbox.
  void sandboxed(Pid pid, Pid parent, const std::string& exe, const std::string& appId, std::optional<Pid> inner,
                 int startTime = 5000) {
    process(pid, parent, exe, "", startTime);
    const std::filesystem::path dir = root_ / "proc" / std::to_string(pid);
    write(dir / "root/.flatpak-info", "[Application]\nname=" + appId + "\n");
    write(dir / "status", "Name:\t" + exe + "\nNSpid:\t" + std::to_string(pid) +
                              (inner ? "\t" + std::to_string(*inner) : std::string()) + "\n");
  }

  std::filesystem::path root_;
};

}  // namespace velmora::linuxos
