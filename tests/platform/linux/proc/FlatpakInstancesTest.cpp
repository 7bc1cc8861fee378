#include "platform/linux/proc/FlatpakInstances.h"

#include <gtest/gtest.h>

#include "platform/linux/proc/FakeProcTree.h"

namespace velmora::linuxos {
namespace {

using namespace std::chrono_literals;

class FlatpakInstancesTest : public FakeProcTree {
 protected:
  // One VLC instance: the launcher outside the sandbox, bwrap as the
  // sandbox's pid 1, the player as its pid 2 with a helper as pid 3. On the
  // host, pid 2 is a kernel thread and pid 3 another Flatpak's process.
  void SetUp() override {
    FakeProcTree::SetUp();
    process(1, 0, "systemd");
    process(2, 0, "", "kthreadd");
    sandboxed(3, 1, "app", "org.example.Other", 2);
    process(100, 1, "bash");
    sandboxed(150, 100, "bwrap", kVlc, std::nullopt);
    sandboxed(151, 150, "bwrap", kVlc, 1);
    sandboxed(152, 151, "vlc", kVlc, 2);
    sandboxed(153, 152, "vlc", kVlc, 3);
  }

  FlatpakInstances instances() {
    return FlatpakInstances(root_ / "proc", [this] { return now_; });
  }

  static constexpr const char* kVlc = "org.videolan.VLC";
  std::chrono::steady_clock::time_point now_{};
};

TEST_F(FlatpakInstancesTest, StreamPidsLeadToTheHostProcessOfTheirApplication) {
  struct Case {
    std::optional<Pid> claimed;
    std::string appId;
    std::optional<Pid> host;
    const char* why;
  };
  const Case cases[] = {
      {152, kVlc, 152, "already the host pid"},
      {153, kVlc, 153, "a helper's host pid stays the helper's"},
      {2, kVlc, 152, "a kernel thread on the host"},
      {3, kVlc, 153, "another program on the host"},
      {4242, kVlc, 152, "no process on the host: the instance's main process"},
      {std::nullopt, kVlc, 152, "no pid at all"},
      {2, "org.mozilla.firefox", std::nullopt, "no such application running"},
      {2, "", std::nullopt, "no application id"},
      {1, "org.videolan", std::nullopt, "a prefix is another id"},
  };
  auto resolver = instances();
  for (const auto& c : cases)
    EXPECT_EQ(resolver.hostPid(c.claimed, c.appId), c.host) << c.why;
}

TEST_F(FlatpakInstancesTest, RememberedAnswersHoldOnlyWhileTrue) {
  auto resolver = instances();
  EXPECT_EQ(resolver.hostPid(2, kVlc), 152);

  // The instance ends and another starts: the remembered process is gone.
  for (Pid pid : {150, 151, 152, 153})
    std::filesystem::remove_all(root_ / "proc" / std::to_string(pid));
  sandboxed(160, 100, "bwrap", kVlc, 1, 9000);
  sandboxed(161, 160, "vlc", kVlc, 2, 9000);
  EXPECT_EQ(resolver.hostPid(2, kVlc), 161);
  // The same pid reused by another program.
  process(161, 100, "vlc", "", 9500);
  std::filesystem::remove(root_ / "proc/161/root/.flatpak-info");
  EXPECT_EQ(resolver.hostPid(2, kVlc), std::nullopt);

  // A miss is not searched again for a while; then it is.
  sandboxed(170, 100, "vlc", kVlc, 2, 9900);
  now_ += 1s;
  EXPECT_EQ(resolver.hostPid(2, kVlc), std::nullopt);
  now_ += 5s;
  EXPECT_EQ(resolver.hostPid(2, kVlc), 170);
}

}  // namespace
}  // namespace velmora::linuxos
