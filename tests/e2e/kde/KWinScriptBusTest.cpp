// The KWin script client against a stand-in for KWin on a private session bus:
// the Plasma 6 and Plasma 5 ways of running a loaded script, reports from
// KWin and from anyone else, a KWin restart, and a KWin that refuses or is
// missing. Skipped where dbus-daemon is not installed.

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "e2e/WaitFor.h"
#include "platform/linux/kde/KWinScriptClient.h"
#include "support/PrivateBus.h"

namespace velmora::linuxos {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

using test::PrivateBus;
using test::waitFor;

// Plays KWin's part: owns org.kde.KWin, loads scripts, and when one runs,
// sends the report given to it to the bus name written in the script.
class FakeKWin {
 public:
  enum class Flavor { plasma6, plasma5, refusing };

  FakeKWin(Flavor flavor, std::string report) : flavor_(flavor), report_(std::move(report)) {
    if (sd_bus_open_user(&bus_) < 0) return;
    sd_bus_add_object_vtable(bus_, nullptr, "/Scripting", "org.kde.kwin.Scripting", scriptingVtable, this);
    const std::string scriptPath = flavor_ == Flavor::plasma5 ? "/3" : "/Scripting/Script3";
    sd_bus_add_object_vtable(bus_, nullptr, scriptPath.c_str(), "org.kde.kwin.Script", scriptVtable, this);
    up_ = sd_bus_request_name(bus_, "org.kde.KWin", 0) >= 0;
    thread_ = std::thread([this] {
      while (!stop_) {
        std::lock_guard lock(busMutex_);
        if (sd_bus_process(bus_, nullptr) > 0) continue;
        sd_bus_wait(bus_, 20'000);
      }
    });
  }
  ~FakeKWin() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (bus_) sd_bus_flush_close_unref(bus_);
  }
  bool up() const { return up_; }
  std::string destination() const {
    std::lock_guard lock(mutex_);
    return destination_;
  }
  int runs() const { return runs_; }
  int unloads() const { return unloads_; }
  std::string scriptFile() const {
    std::lock_guard lock(mutex_);
    return scriptFile_;
  }

  // A call from this KWin's own connection to the client's object.
  std::string send(const std::string& report) {
    // One connection is never used by two threads at once.
    std::lock_guard lock(busMutex_);
    sd_bus_error error{};  // all null, as SD_BUS_ERROR_NULL, without a C compound literal
    const std::string to = destination();
    const int r = sd_bus_call_method(bus_, to.c_str(), "/org/velmora/KWinReports", "org.velmora.KWinReports1", "Report",
                                     &error, nullptr, "s", report.c_str());
    std::string result = r >= 0 ? "ok" : (error.name ? error.name : "error");
    sd_bus_error_free(&error);
    return result;
  }

 private:
  static int loadScript(sd_bus_message* m, void* data, sd_bus_error*) {
    auto& self = *static_cast<FakeKWin*>(data);
    const char *path = nullptr, *name = nullptr;
    sd_bus_message_read(m, "ss", &path, &name);
    {
      std::lock_guard lock(self.mutex_);
      self.scriptFile_ = path ? path : "";
    }
    return sd_bus_reply_method_return(m, "i", self.flavor_ == Flavor::refusing ? -1 : 3);
  }
  static int isScriptLoaded(sd_bus_message* m, void*, sd_bus_error*) { return sd_bus_reply_method_return(m, "b", 0); }
  static int unloadScript(sd_bus_message* m, void* data, sd_bus_error*) {
    ++static_cast<FakeKWin*>(data)->unloads_;
    return sd_bus_reply_method_return(m, "b", 1);
  }
  static int start(sd_bus_message* m, void*, sd_bus_error*) { return sd_bus_reply_method_return(m, ""); }
  static int run(sd_bus_message* m, void* data, sd_bus_error*) {
    auto& self = *static_cast<FakeKWin*>(data);
    std::ifstream file(self.scriptFile());
    std::stringstream text;
    text << file.rdbuf();
    const std::string script = text.str();
    const std::string key = "const destination = \"";
    const auto at = script.find(key);
    if (at != std::string::npos) {
      std::lock_guard lock(self.mutex_);
      self.destination_ = script.substr(at + key.size(), script.find('"', at + key.size()) - at - key.size());
    }
    ++self.runs_;
    sd_bus_call_method_async(self.bus_, nullptr, self.destination().c_str(), "/org/velmora/KWinReports",
                             "org.velmora.KWinReports1", "Report", nullptr, nullptr, "s", self.report_.c_str());
    return sd_bus_reply_method_return(m, "");
  }

  static constexpr sd_bus_vtable scriptingVtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("loadScript", "ss", "i", loadScript, 0),
      SD_BUS_METHOD("isScriptLoaded", "s", "b", isScriptLoaded, 0),
      SD_BUS_METHOD("unloadScript", "s", "b", unloadScript, 0),
      SD_BUS_METHOD("start", "", "", start, 0),
      SD_BUS_VTABLE_END,
  };
  static constexpr sd_bus_vtable scriptVtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("run", "", "", run, 0),
      SD_BUS_VTABLE_END,
  };

  Flavor flavor_;
  std::string report_;
  sd_bus* bus_ = nullptr;
  bool up_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<int> runs_{0};
  std::atomic<int> unloads_{0};
  std::mutex busMutex_;
  mutable std::mutex mutex_;
  std::string destination_;
  std::string scriptFile_;
  std::thread thread_;
};

// Any other client on the bus.
std::string sendAsStranger(const std::string& to, const std::string& report) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return "no bus";
  sd_bus_error error{};  // all null, as SD_BUS_ERROR_NULL, without a C compound literal
  const int r = sd_bus_call_method(bus, to.c_str(), "/org/velmora/KWinReports", "org.velmora.KWinReports1", "Report",
                                   &error, nullptr, "s", report.c_str());
  std::string result = r >= 0 ? "ok" : (error.name ? error.name : "error");
  sd_bus_error_free(&error);
  sd_bus_flush_close_unref(bus);
  return result;
}

const std::string kReport6 = R"({"api":6,"windows":[[42,10,20,640,480,true]]})";
const std::string kReport5 = R"({"api":5,"windows":[[43,1300,20,640,480,true],[44,0,0,5,5,false]]})";

class KWinScriptBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PrivateBus::available()) GTEST_SKIP() << "dbus-daemon is not installed";
    bus_ = std::make_unique<PrivateBus>();
    ASSERT_TRUE(bus_->up()) << "the private bus did not start";
  }

  std::unique_ptr<KWinScriptClient> makeClient(std::chrono::milliseconds kwinGrace = 10s) {
    KWinScriptClient::Options options;
    options.windowList = windowList_;
    options.tellUser = [this](const std::string& text) {
      std::lock_guard lock(toldMutex_);
      told_.push_back(text);
    };
    options.runtimeDir = bus_->dir().string();
    options.kwinGrace = kwinGrace;
    return std::make_unique<KWinScriptClient>(std::move(options));
  }
  std::size_t toldCount() {
    std::lock_guard lock(toldMutex_);
    return told_.size();
  }

  std::unique_ptr<PrivateBus> bus_;
  std::shared_ptr<KWinWindowList> windowList_ = std::make_shared<KWinWindowList>();
  std::mutex toldMutex_;
  std::vector<std::string> told_;
};

TEST_F(KWinScriptBusTest, RunsTheScriptOnPlasma6AndTakesReportsOnlyFromKWin) {
  auto kwin = std::make_unique<FakeKWin>(FakeKWin::Flavor::plasma6, kReport6);
  ASSERT_TRUE(kwin->up());
  auto client = makeClient();
  ASSERT_TRUE(waitFor([&] { return windowList_->hasReport(); })) << client->state();
  EXPECT_EQ(kwin->runs(), 1);
  EXPECT_EQ(windowList_->api(), 6);
  EXPECT_EQ(windowList_->windows()->size(), 1u);
  EXPECT_NE(client->state().find("Plasma 6"), std::string::npos) << client->state();
  const std::string script = kwin->scriptFile();
  EXPECT_TRUE(fs::exists(script));
  EXPECT_EQ(fs::status(fs::path(script).parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);

  EXPECT_EQ(sendAsStranger(kwin->destination(), kReport5), "org.freedesktop.DBus.Error.AccessDenied");
  EXPECT_EQ(kwin->send("{\"api\":6"), "org.freedesktop.DBus.Error.InvalidArgs");
  EXPECT_EQ(windowList_->api(), 6) << "the last good report stays";
  EXPECT_EQ(kwin->send(kReport5), "ok");
  EXPECT_EQ(windowList_->windows()->size(), 2u);

  client.reset();
  EXPECT_TRUE(waitFor([&] { return kwin->unloads() == 1; })) << "the script is unloaded at exit";
  EXPECT_FALSE(fs::exists(script));
  EXPECT_EQ(toldCount(), 0u);
}

TEST_F(KWinScriptBusTest, FollowsKWinAcrossARestartFromPlasma5ToPlasma6) {
  auto kwin = std::make_unique<FakeKWin>(FakeKWin::Flavor::plasma5, kReport5);
  ASSERT_TRUE(kwin->up());
  auto client = makeClient();
  ASSERT_TRUE(waitFor([&] { return windowList_->api() == 5; })) << client->state();
  const std::string before = *windowList_->kwinOwner();

  kwin.reset();
  ASSERT_TRUE(waitFor([&] { return !windowList_->kwinOwner(); }));
  EXPECT_FALSE(windowList_->windows()) << "the windows of a KWin that left are gone";

  kwin = std::make_unique<FakeKWin>(FakeKWin::Flavor::plasma6, kReport6);
  ASSERT_TRUE(kwin->up());
  ASSERT_TRUE(waitFor([&] { return windowList_->api() == 6; })) << client->state();
  EXPECT_NE(*windowList_->kwinOwner(), before);
  EXPECT_EQ(toldCount(), 0u);
}

TEST_F(KWinScriptBusTest, TellsTheUserOnceWhenKWinRefusesOrIsMissing) {
  {
    auto kwin = std::make_unique<FakeKWin>(FakeKWin::Flavor::refusing, kReport6);
    ASSERT_TRUE(kwin->up());
    auto client = makeClient();
    ASSERT_TRUE(waitFor([&] { return toldCount() == 1; })) << client->state();
    EXPECT_NE(client->state().find("refused"), std::string::npos) << client->state();
    EXPECT_EQ(told_[0], kKWinUnavailableMessage);
  }
  told_.clear();
  auto client = makeClient(100ms);
  ASSERT_TRUE(waitFor([&] { return toldCount() == 1; })) << client->state();
  // KWin arriving late is still used.
  auto kwin = std::make_unique<FakeKWin>(FakeKWin::Flavor::plasma6, kReport6);
  ASSERT_TRUE(waitFor([&] { return windowList_->hasReport(); })) << client->state();
  EXPECT_EQ(toldCount(), 1u);
}

}  // namespace
}  // namespace velmora::linuxos
