// The GNOME back end's bus side against a stand-in GNOME Shell on a private
// session bus, when the extension will not tell Velmora the window list: it
// refuses, or Velmora's name is another program's. Skipped where dbus-daemon
// is not installed.

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "e2e/WaitFor.h"
#include "platform/linux/gnome/ExtensionLink.h"
#include "platform/linux/gnome/GnomeBus.h"
#include "support/PrivateBus.h"

namespace velmora::linuxos::gnome {
namespace {

using namespace std::chrono_literals;
using ::velmora::test::PrivateBus;
using ::velmora::test::waitFor;

// Owns org.gnome.Shell with an extension that answers its Version and
// refuses Windows(), then tells the caller that the list changed, as the
// extension does once it has learnt a new owner of Velmora's name.
class RefusingShell {
 public:
  RefusingShell() {
    if (sd_bus_open_user(&bus_) < 0) return;
    sd_bus_add_object_vtable(bus_, nullptr, "/co/quennet/Velmora/Shell", "co.quennet.Velmora.Shell", vtable, this);
    up_ = sd_bus_request_name(bus_, "org.gnome.Shell", 0) >= 0;
    thread_ = std::thread([this] {
      while (!stop_) {
        if (sd_bus_process(bus_, nullptr) > 0) continue;
        sd_bus_wait(bus_, 20'000);
      }
    });
  }
  ~RefusingShell() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    sd_bus_flush_close_unref(bus_);
  }
  bool up() const { return up_; }
  int windowsCalls() const { return calls_; }

 private:
  static int version(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
    return sd_bus_message_append(reply, "u", 1u);
  }
  static int windows(sd_bus_message* m, void* data, sd_bus_error*) {
    auto& self = *static_cast<RefusingShell*>(data);
    sd_bus_reply_method_errorf(m, SD_BUS_ERROR_ACCESS_DENIED, "not the reader");
    if (self.calls_++ == 0) {
      sd_bus_message* changed = nullptr;
      sd_bus_message_new_signal(self.bus_, &changed, "/co/quennet/Velmora/Shell", "co.quennet.Velmora.Shell",
                                "Changed");
      sd_bus_message_set_destination(changed, sd_bus_message_get_sender(m));
      sd_bus_send(self.bus_, changed, nullptr);
      sd_bus_message_unref(changed);
    }
    return 1;
  }
  static constexpr sd_bus_vtable vtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_PROPERTY("Version", "u", version, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_METHOD("Windows", "", "a(iiiii)", windows, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_SIGNAL("Changed", "", 0),
      SD_BUS_VTABLE_END,
  };

  sd_bus* bus_ = nullptr;
  bool up_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<int> calls_{0};
  std::thread thread_;
};

class ShellBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PrivateBus::available()) GTEST_SKIP() << "dbus-daemon is not installed";
    bus_ = std::make_unique<PrivateBus>();
    ASSERT_TRUE(bus_->up()) << "the private bus did not start";
  }
  std::unique_ptr<GnomeBus> makeBus() {
    GnomeBus::Callbacks callbacks;
    callbacks.tellUser = [this](const std::string& text) {
      std::lock_guard lock(mutex_);
      told_.push_back(text);
    };
    return std::make_unique<GnomeBus>(std::move(callbacks));
  }
  std::vector<std::string> told() {
    std::lock_guard lock(mutex_);
    return told_;
  }

  std::unique_ptr<PrivateBus> bus_;
  std::mutex mutex_;
  std::vector<std::string> told_;
};

TEST_F(ShellBusTest, ARefusedWindowListIsToldOnceAndNotAskedForAgain) {
  RefusingShell shell;
  ASSERT_TRUE(shell.up());
  auto gnome = makeBus();
  ASSERT_TRUE(waitFor([&] { return !told().empty(); })) << gnome->describe();
  EXPECT_EQ(told(), std::vector<std::string>{ExtensionLink::refusalMessage(ExtensionLink::State::refused)});
  const int calls = shell.windowsCalls();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(shell.windowsCalls(), calls) << "asked again with nothing new";
  EXPECT_LE(calls, 2);
  EXPECT_FALSE(gnome->windows());
  EXPECT_NE(gnome->describe().find("refuses"), std::string::npos) << gnome->describe();
}

TEST_F(ShellBusTest, AReaderNameHeldElsewhereIsToldOnceAndNothingIsAsked) {
  sd_bus* other = nullptr;
  ASSERT_GE(sd_bus_open_user(&other), 0);
  ASSERT_GE(sd_bus_request_name(other, kWindowsReaderName, 0), 0);
  RefusingShell shell;
  ASSERT_TRUE(shell.up());
  auto gnome = makeBus();
  ASSERT_TRUE(waitFor([&] { return !told().empty(); })) << gnome->describe();
  EXPECT_EQ(told(), std::vector<std::string>{ExtensionLink::refusalMessage(ExtensionLink::State::nameTaken)});
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(shell.windowsCalls(), 0);
  EXPECT_NE(gnome->describe().find("held by another program"), std::string::npos) << gnome->describe();
  gnome.reset();
  sd_bus_flush_close_unref(other);
}

}  // namespace
}  // namespace velmora::linuxos::gnome
